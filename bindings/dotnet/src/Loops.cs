using System;
using System.Threading;
using Vantorel.Interop;

namespace Vantorel
{
/// <summary>The point formats of a capture.</summary>
public enum CaptureFormat : byte
{
    /// <summary>Absolute points (packets 9C/8C).</summary>
    Absolute = 1,
    /// <summary>Relative moves (packets 90/80), delivered as absolute points.</summary>
    Relative = 2,
    /// <summary>Absolute points (packets 90/80).</summary>
    AbsoluteCompact = 4,
}

/// <summary>
/// A blocking loop of the library (a capture, secure reading) run on a thread of its own,
/// ended from any other thread by <see cref="Stop"/>.
/// </summary>
public abstract class TerminalLoop : IDisposable
{
    // A stop sent before the loop's start reached the terminal would be answered and then
    // the loop would begin and run on; so the stop is repeated until the thread has ended.
    static readonly TimeSpan StopRetry = TimeSpan.FromMilliseconds(700);
    static readonly TimeSpan StopLimit = TimeSpan.FromSeconds(15);

    readonly Terminal terminal;
    readonly Thread thread;
    readonly string export;
    byte code;
    string text;
    bool stopped;

    internal TerminalLoop(Terminal terminal, string export, string threadName)
    {
        this.terminal = terminal;
        this.export = export;
        thread = new Thread(() =>
        {
            code = Run();
            if (code != 1) text = VantorelException.LastErrorText();  // kept per thread
        }) { IsBackground = true, Name = threadName };
    }

    // Called by the factory once the derived loop is constructed.
    internal T Start<T>() where T : TerminalLoop
    {
        thread.Start();
        return (T)this;
    }

    /// <summary>The blocking export; its code.</summary>
    protected abstract byte Run();

    /// <summary>The export that ends the loop; its code.</summary>
    protected abstract byte End();

    /// <summary>Whether the loop's thread has ended (the start refused, or the loop ended).</summary>
    public bool IsFinished => !thread.IsAlive;

    /// <summary>Ends the loop and waits for its thread. Throws when the start was refused,
    /// when a handler threw, or when the loop did not end within 15 s.</summary>
    public void Stop()
    {
        DateTime limit = DateTime.UtcNow + StopLimit;
        while (thread.IsAlive)
        {
            End();
            if (thread.Join(StopRetry)) break;
            if (DateTime.UtcNow > limit) throw new TimeoutException(export + " did not end");
        }
        Finish();
    }

    /// <summary>Waits for the loop to end by itself (another thread stopped it, or the
    /// connection was closed); false when it is still running after the time-out.</summary>
    public bool Wait(TimeSpan timeout)
    {
        if (!thread.Join(timeout)) return false;
        Finish();
        return true;
    }

    void Finish()
    {
        if (stopped) return;
        stopped = true;
        Exception e = terminal.TakeHandlerError();
        if (e != null) throw new InvalidOperationException("a handler of " + export + " threw", e);
        if (code != 1) throw new VantorelException(export, code, text);
    }

    /// <summary>Stops the loop (exceptions of a loop that already ended are not thrown here).</summary>
    public void Dispose()
    {
        if (stopped) return;
        try
        {
            Stop();
        }
        catch (VantorelException)
        {
        }
    }
}

/// <summary>A running signature capture; its points arrive through
/// <see cref="Terminal.PointsReceived"/>.</summary>
public sealed class Capture : TerminalLoop
{
    readonly byte format;
    readonly byte[] bytes;

    internal Capture(Terminal terminal, byte format, byte[] bytes)
        : base(terminal, "Zelto_StartCapture", "vantorel capture")
    {
        this.format = format;
        this.bytes = bytes;
    }

    protected override byte Run() =>
        NativeMethods.Zelto_StartCapture(format, bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6]);

    protected override byte End() => NativeMethods.Zelto_ExitCapture();
}

/// <summary>Secure reading; swipes and keys arrive through
/// <see cref="Terminal.CardDataReceived"/>.</summary>
public sealed class SecureReading : TerminalLoop
{
    internal SecureReading(Terminal terminal) : base(terminal, "MSR_EnableSecureHead", "vantorel reading") {}

    protected override byte Run() => NativeMethods.MSR_EnableSecureHead();

    protected override byte End() => NativeMethods.MSR_DisableSecureHead();
}

public sealed partial class Terminal
{
    /// <summary>Starts a capture on a thread of its own; subscribe to
    /// <see cref="PointsReceived"/> first. <paramref name="captureBytes"/>: the seven bytes
    /// the pad receives unchanged (default 1-7).</summary>
    public Capture StartCapture(CaptureFormat format = CaptureFormat.Absolute, byte[] captureBytes = null)
    {
        byte[] bytes = captureBytes ?? new byte[] { 1, 2, 3, 4, 5, 6, 7 };
        if (bytes.Length != 7) throw new ArgumentException("seven capture bytes", nameof(captureBytes));
        return new Capture(this, (byte)format, (byte[])bytes.Clone()).Start<Capture>();
    }

    /// <summary>Switches secure reading on, on a thread of its own; subscribe to
    /// <see cref="CardDataReceived"/> first.</summary>
    public SecureReading StartSecureReading() => new SecureReading(this).Start<SecureReading>();
}
}
