// A small self-contained test runner: every public static method marked [Test] in this
// assembly runs once, in declaration order; one line "ok NAME" or "FAIL NAME: why" each, then
// "N passed, M failed". Arguments: substrings of the tests to run (default all).
//
// Environment: VANTOREL_VTERM (the virtual terminal program), VANTOREL_SOURCE (the source
// tree: include/, exports/), VANTOREL_EXAMPLES (the compiled examples), VANTOREL_WORK (a
// scratch directory).
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;

namespace Vantorel.Tests
{
[AttributeUsage(AttributeTargets.Method)]
sealed class TestAttribute : Attribute
{
    public TestAttribute([System.Runtime.CompilerServices.CallerLineNumber] int line = 0) { Line = line; }
    public int Line { get; }
}

sealed class TestFailure : Exception
{
    public TestFailure(string message) : base(message) {}
}

static class Runner
{
    static readonly TimeSpan TestLimit = TimeSpan.FromSeconds(60);

    static int Main(string[] args)
    {
        var tests = typeof(Runner).Assembly.GetTypes()
                        .SelectMany(t => t.GetMethods(BindingFlags.Public | BindingFlags.Static))
                        .Select(m => new { Method = m, Mark = m.GetCustomAttribute<TestAttribute>() })
                        .Where(t => t.Mark != null)
                        .OrderBy(t => t.Method.DeclaringType.Name)
                        .ThenBy(t => t.Mark.Line)
                        .Select(t => t.Method)
                        .Where(m => args.Length == 0 || args.Any(a => Name(m).Contains(a)))
                        .ToList();
        int passed = 0, failed = 0;
        foreach (MethodInfo test in tests)
        {
            var clock = Stopwatch.StartNew();
            Exception why = null;
            var thread = new Thread(() =>
            {
                try
                {
                    test.Invoke(null, null);
                }
                catch (TargetInvocationException e)
                {
                    why = e.InnerException;
                }
            });
            thread.Start();
            if (!thread.Join(TestLimit))
            {
                // A blocked export returns once the connection is closed.
                Interop.NativeMethods.Brixa_Close();
                why = new TestFailure("hung for " + TestLimit.TotalSeconds + " s");
                if (!thread.Join(TimeSpan.FromSeconds(10)))
                {
                    Console.WriteLine("FAIL " + Name(test) + ": hung, even after a close");
                    Console.WriteLine(passed + " passed, " + (failed + 1) + " failed");
                    Environment.Exit(1);
                }
            }
            Interop.NativeMethods.Brixa_Close();  // the next test starts without a connection
            if (why == null)
            {
                ++passed;
                Console.WriteLine("ok " + Name(test) + " (" + clock.ElapsedMilliseconds + " ms)");
                continue;
            }
            ++failed;
            Console.WriteLine("FAIL " + Name(test) + ": " +
                              (why is TestFailure ? why.Message : why.GetType().Name + ": " + why.Message));
            if (!(why is TestFailure)) Console.WriteLine(why.StackTrace);
        }
        Console.WriteLine(passed + " passed, " + failed + " failed");
        return failed == 0 ? 0 : 1;
    }

    static string Name(MethodInfo m) => m.DeclaringType.Name + "." + m.Name;
}

/// <summary>Assertions. None prints what a secret-bearing comparison held.</summary>
static class Check
{
    public static void True(bool condition, string what)
    {
        if (!condition) throw new TestFailure(what);
    }

    public static void Equal<T>(T expected, T actual, string what)
    {
        if (!EqualityComparer<T>.Default.Equals(expected, actual))
            throw new TestFailure(what + ": expected " + expected + ", got " + actual);
    }

    public static void Sequence<T>(IEnumerable<T> expected, IEnumerable<T> actual, string what)
    {
        List<T> e = expected.ToList(), a = actual.ToList();
        if (e.SequenceEqual(a)) return;
        int at = 0;
        while (at < e.Count && at < a.Count && EqualityComparer<T>.Default.Equals(e[at], a[at])) ++at;
        throw new TestFailure(what + ": " + e.Count + " expected, " + a.Count + " got, first difference at " + at +
                              (at < e.Count && at < a.Count ? " (" + e[at] + " / " + a[at] + ")" : ""));
    }

    // Card data, PIN blocks, entered digits: compared, never shown.
    public static void Secret(byte[] expected, byte[] actual, string what)
    {
        if (actual == null || !expected.SequenceEqual(actual))
            throw new TestFailure(what + " differs (" + expected.Length + " bytes expected, " +
                                  (actual == null ? "none" : actual.Length.ToString()) + " got)");
    }

    public static T Throws<T>(Action action, string what) where T : Exception
    {
        try
        {
            action();
        }
        catch (T e)
        {
            return e;
        }
        catch (Exception e)
        {
            throw new TestFailure(what + ": threw " + e.GetType().Name + " instead of " + typeof(T).Name);
        }
        throw new TestFailure(what + ": did not throw " + typeof(T).Name);
    }

    public static void Eventually(Func<bool> condition, TimeSpan limit, string what)
    {
        var clock = Stopwatch.StartNew();
        while (!condition())
        {
            if (clock.Elapsed > limit) throw new TestFailure(what + " (waited " + limit.TotalSeconds + " s)");
            Thread.Sleep(20);
        }
    }
}

static class Env
{
    public static string Get(string name)
    {
        string value = Environment.GetEnvironmentVariable(name);
        if (string.IsNullOrEmpty(value)) throw new TestFailure(name + " is not set");
        return value;
    }

    public static string Source => Get("VANTOREL_SOURCE");
    public static string Work => Get("VANTOREL_WORK");
    public static string Examples => Get("VANTOREL_EXAMPLES");
}

/// <summary>The virtual terminal program on a pseudo-terminal, playing a script.</summary>
sealed class VirtualTerminal : IDisposable
{
    const string EndMarker = "script-end";
    readonly Process process;
    readonly StringBuilder output = new StringBuilder();
    readonly StringBuilder errors = new StringBuilder();
    bool finished;

    [DllImport("libc", EntryPoint = "kill")]
    static extern int Kill(int pid, int signal);

    public VirtualTerminal(string name, params string[] script)
    {
        Link = Path.Combine(Env.Work, name + ".tty");
        string scriptFile = Path.Combine(Env.Work, name + ".vterm");
        File.WriteAllLines(scriptFile, script.Concat(new[] { "echo " + EndMarker }));
        if (File.Exists(Link)) File.Delete(Link);
        process = new Process
        {
            StartInfo = new ProcessStartInfo(Env.Get("VANTOREL_VTERM"),
                                             "--link " + Link + " --no-stdin --script " + scriptFile)
            {
                UseShellExecute = false,
                RedirectStandardOutput = true,
                RedirectStandardError = true,
            },
        };
        process.OutputDataReceived += (s, e) => { if (e.Data != null) lock (output) output.AppendLine(e.Data); };
        process.ErrorDataReceived += (s, e) => { if (e.Data != null) lock (errors) errors.AppendLine(e.Data); };
        process.Start();
        process.BeginOutputReadLine();
        process.BeginErrorReadLine();
        Check.Eventually(() => File.Exists(Link) || process.HasExited, TimeSpan.FromSeconds(5),
                         "the virtual terminal's link " + Link);
        if (process.HasExited) throw new TestFailure("the virtual terminal ended at once: " + Errors);
    }

    public string Link { get; }

    string Errors
    {
        get { lock (errors) return errors.ToString().Trim(); }
    }

    /// <summary>Waits for the script's end, stops the terminal and returns what it printed
    /// (its frame log holds secrets: assert on it, never print it). Fails when the script
    /// failed.</summary>
    public string Finish(double seconds = 15)
    {
        Check.Eventually(() => { lock (output) return output.ToString().Contains(EndMarker) || process.HasExited; },
                         TimeSpan.FromSeconds(seconds), "the virtual terminal's script did not run to its end: " + Errors);
        Stop();
        if (process.ExitCode != 0) throw new TestFailure("the virtual terminal's script failed: " + Errors);
        lock (output) return output.ToString();
    }

    /// <summary>The commands (frame payloads) the terminal received, in hex ("76 46 01 46"),
    /// from the frame log a script printed with `frames`.</summary>
    public static List<string> Commands(string log)
    {
        var commands = new List<string>();
        foreach (string line in log.Split('\n'))
        {
            string[] words = line.Trim().Split(' ');
            if (words.Length < 8 || words[1] != "ok" || words[2] != "02") continue;
            int length = Convert.ToInt32(words[3], 16) + 256 * Convert.ToInt32(words[4], 16);
            if (words.Length < 5 + length) continue;
            commands.Add(string.Join(" ", words.Skip(5).Take(length)));
        }
        return commands;
    }

    void Stop()
    {
        if (finished) return;
        finished = true;
        if (!process.HasExited) Kill(process.Id, 15);
        if (!process.WaitForExit(5000)) process.Kill();
        process.WaitForExit();
    }

    public void Dispose() => Stop();
}
}
