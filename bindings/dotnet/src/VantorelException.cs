using System;
using System.Runtime.InteropServices;
using Vantorel.Interop;

namespace Vantorel
{
/// <summary>The one-byte codes the exports return (see the C header for each export's).</summary>
public enum ReturnCode : byte
{
    Failure = 0,
    Success = 1,
    InvalidArgument = 99,
    StatusEC = 100,
    Status6AOrEE = 101,
    StatusC1OrED = 102,
    Status81 = 103,
    StatusE8 = 104,
    Status18 = 105,
    Status19 = 106,
    Status03 = 107,
    Status04 = 108,
    Status05 = 109,
    Status0D = 110,
    AlreadyOpen = 200,
    NotOpen = 201,
    PinEntryActive = 202,
    SecureHeadActive = 204,
    CaptureActive = 205,
    EncryptedEntryActive = 207,
}

/// <summary>An export returned something other than 1. Carries the code and the library's
/// one line on why (the OS error with the path, "refused with status EC", ...); the text
/// never holds card data, keys, PIN blocks or entered digits.</summary>
public class VantorelException : Exception
{
    public VantorelException(string export, byte code, string text)
        : base(export + " returned " + code + ": " + text)
    {
        Export = export;
        Code = code;
        Text = text;
    }

    /// <summary>The export that failed.</summary>
    public string Export { get; }
    /// <summary>The code it returned.</summary>
    public byte Code { get; }
    /// <summary>The code as the enumeration (undefined values stay as they are).</summary>
    public ReturnCode ReturnCode => (ReturnCode)Code;
    /// <summary>Why, as Brixa_GetLastErrorText gave it on the failing thread.</summary>
    public string Text { get; }

    /// <summary>Throws for any code but 1. Must run on the thread that called the export,
    /// right after it: the last error is kept per thread.</summary>
    internal static void Check(byte code, string export)
    {
        if (code == 1) return;
        throw new VantorelException(export, code, LastErrorText());
    }

    /// <summary>The calling thread's last error text.</summary>
    public static string LastErrorText() => Marshal.PtrToStringAnsi(NativeMethods.Brixa_GetLastErrorText()) ?? "";
}

/// <summary>An entry ended because its time-out ran out or its cancellation was requested:
/// the binding asked the terminal to end it (PIN_CancelPIN) and the entry returned
/// <see cref="VantorelException.Code"/> (105 when the terminal reports the cancel). When the
/// terminal did not end it, the binding closed the connection (<see cref="ConnectionClosed"/>):
/// open the terminal again.</summary>
public class EntryCancelledException : VantorelException
{
    public EntryCancelledException(string export, byte code, string text, bool timedOut, bool connectionClosed)
        : base(export, code, (timedOut ? "timed out; " : "cancelled; ") + text)
    {
        TimedOut = timedOut;
        ConnectionClosed = connectionClosed;
    }

    /// <summary>Whether the connection had to be closed to end the entry.</summary>
    public bool ConnectionClosed { get; }

    /// <summary>True when the time-out ended it, false when the cancellation token did.</summary>
    public bool TimedOut { get; }
}
}
