// The examples in examples/dotnet, each run as a user would run it against the virtual
// terminal playing the customer: what it prints, its exit status, what it wrote, and that
// no secret reached its output.
using System;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Security.Cryptography;
using System.Text.RegularExpressions;

namespace Vantorel.Tests
{
static class ExampleTests
{
    const string Card = "4000123412341234";

    // Runs the example with the terminal's link as its port; returns what it printed.
    static string Run(VirtualTerminal vterm, string example, params string[] args)
    {
        var start = new ProcessStartInfo("mono", Path.Combine(Env.Examples, example + ".exe") + " " + vterm.Link +
                                                     string.Concat(args.Select(a => " " + a)))
        {
            UseShellExecute = false,
            RedirectStandardOutput = true,
            RedirectStandardError = true,
            WorkingDirectory = Env.Work,
        };
        using (Process p = Process.Start(start))
        {
            var errors = p.StandardError.ReadToEndAsync();
            string output = p.StandardOutput.ReadToEnd();
            if (!p.WaitForExit(60000))
            {
                p.Kill();
                throw new TestFailure(example + " did not end");
            }
            string all = output + errors.Result;
            foreach (string secret in new[] { Card, "5A1F3C9E", "1250", "2512" })
                Check.True(!all.Contains(secret), example + " printed a secret");
            Check.Equal(0, p.ExitCode, example + "'s exit status (" + errors.Result.Trim() + ")");
            return output;
        }
    }

    static void Lines(string expected, string output, string what)
    {
        Check.Sequence(expected.Split('|'), output.Trim().Split('\n').Select(l => l.Trim()), what);
    }

    [Test]
    public static void Sign()
    {
        using (var vterm = new VirtualTerminal("ex-sign", "wait capture-start", "sign 100,200 120,210 140,230 / 300,300 320,310",
                                               "wait capture-exit"))
        {
            string output = Run(vterm, "sign", "signature.svg");
            Lines("sign on the pad|5 points in 2 strokes, saved to signature.svg", output, "sign's output");
            string svg = File.ReadAllText(Path.Combine(Env.Work, "signature.svg"));
            Check.Sequence(new[] { "100,200 120,210 140,230", "300,300 320,310" },
                           Regex.Matches(svg, "points=\"([^\"]*)\"").Cast<Match>().Select(m => m.Groups[1].Value),
                           "the strokes drawn");
            vterm.Finish();
        }
    }

    [Test]
    public static void SecureReading()
    {
        string track1 = "%B" + Card + "^TEST/CARD^2512101?", track2 = ";" + Card + "=2512101?";
        int length = (track1 + "\r" + track2 + "\r").Length;
        using (var vterm = new VirtualTerminal("ex-reading", "wait secure-on", "swipe \"" + track1 + "\" " + track2,
                                               "wait key-poll", "wait key-poll", "pinkey enter", "wait secure-off"))
        {
            Lines("swipe a card, then press Enter on the PIN pad|card data: " + length + " bytes, track text|key: Enter|1 card(s) read",
                  Run(vterm, "secure_reading"), "secure_reading's output");
            vterm.Finish();
        }
    }

    [Test]
    public static void PinBlockCancelledAfterTimeOut()
    {
        using (var vterm = new VirtualTerminal("ex-pin", "entry hold", "wait pin-entry", "wait pin-cancel"))
        {
            Lines("no PIN within 1 s: the entry ended with code 105", Run(vterm, "pin_block", "1"), "pin_block's output");
            vterm.Finish();
        }
    }

    [Test]
    public static void PinBlock()
    {
        using (var vterm = new VirtualTerminal("ex-pin-default", "entry default", "wait pin-entry"))
        {
            Lines("PIN block: 16 bytes", Run(vterm, "pin_block"), "pin_block's output");
            vterm.Finish();
        }
    }

    [Test]
    public static void NumericRsa()
    {
        string keyFile = Path.Combine(Env.Work, "example-key.xml");
        RSAParameters key;
        using (var rsa = new RSACryptoServiceProvider(1024))
        {
            File.WriteAllText(keyFile, rsa.ToXmlString(true));
            key = rsa.ExportParameters(false);
        }
        using (var vterm = new VirtualTerminal("ex-numeric", "pubkey " + ScenarioTests.Hex(key.Modulus) + " " + ScenarioTests.Hex(key.Exponent),
                                               "entry digits 1250", "wait amount-entry"))
        {
            Lines("amount entered: 4 digits", Run(vterm, "numeric_rsa", keyFile), "numeric_rsa's output");
            vterm.Finish();
        }
    }

    [Test]
    public static void ManualEntry()
    {
        using (var vterm = new VirtualTerminal("ex-manual", "manual card " + Card + "=2512", "wait manual-entry"))
        {
            Lines("manual entry: 28 bytes", Run(vterm, "manual_entry"), "manual_entry's output");
            vterm.Finish();
        }
    }

    [Test]
    public static void ReaderSettings()
    {
        using (var vterm = new VirtualTerminal("ex-settings", "wait 73/53/1D", "frames"))
        {
            string output = Run(vterm, "reader_settings", "3");
            Check.True(Regex.IsMatch(output, "^decoding changed: '.' -> '3'$", RegexOptions.Multiline),
                       "reader_settings reports the change: " + output);
            Check.True(VirtualTerminal.Commands(vterm.Finish()).Contains("73 53 1D 01 33"), "the setting sent");
        }
    }
}
}
