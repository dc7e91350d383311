using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Security.Cryptography;
using System.Threading;
using Vantorel.Interop;

namespace Vantorel
{
/// <summary>One line of text on the terminal's display during an entry.</summary>
public sealed class Prompt
{
    public Prompt() {}
    public Prompt(string text, int x, int y)
    {
        Text = text;
        X = x;
        Y = y;
    }

    /// <summary>At most 234 characters, one byte each.</summary>
    public string Text { get; set; } = "";
    public int X { get; set; }
    public int Y { get; set; }
    /// <summary>13 bytes passed to the terminal unchanged.</summary>
    public byte[] Attributes { get; set; } = new byte[13];
}

/// <summary>What every PIN-pad and manual entry sends; the ranges are given per entry.</summary>
public class EntryRequest
{
    public byte UpperBound { get; set; }
    public byte LowerBound { get; set; }
    /// <summary>0-3.</summary>
    public byte Selector { get; set; }
    /// <summary>16 bytes passed to the terminal unchanged.</summary>
    public byte[] OptionBytes { get; set; } = new byte[16];
    public int Value1 { get; set; }
    public int Value2 { get; set; }
    public int Value3 { get; set; }
    public int Value4 { get; set; }
    /// <summary>Passed to the terminal unchanged.</summary>
    public byte FlagByte { get; set; }
    /// <summary>0-10 lines.</summary>
    public List<Prompt> Lines { get; } = new List<Prompt>();
}

/// <summary>A PIN block entry: bounds 4-12.</summary>
public sealed class PinBlockRequest : EntryRequest
{
    /// <summary>The character '0' or '1'.</summary>
    public char Mode { get; set; } = '1';
    /// <summary>"" or exactly 16 digits.</summary>
    public string AccountNumber { get; set; } = "";
}

/// <summary>A manual card entry: mode 0 or 1, entry kind 1-3.</summary>
public sealed class CardEntryRequest : EntryRequest
{
    public byte Mode { get; set; }
    public byte EntryKind { get; set; } = 3;
}

/// <summary>What a numeric or amount entry returns. The value is secret: clear it when done.</summary>
public sealed class NumericAnswer
{
    internal NumericAnswer(byte firstByte, byte[] value)
    {
        FirstByte = firstByte;
        Value = value;
    }

    /// <summary>The answer's first data byte, as the terminal sent it.</summary>
    public byte FirstByte { get; }
    /// <summary>The bytes after it, up to the first 'F'.</summary>
    public byte[] Value { get; }
}

/// <summary>The kind of a numeric entry.</summary>
public enum NumericEntryKind : byte
{
    Numeric = 1,
    Amount = 2,
}

/// <summary>Unmanaged memory an entry's record points into, cleared before it is freed.</summary>
sealed class UnmanagedBlocks : IDisposable
{
    readonly List<IntPtr> blocks = new List<IntPtr>();
    readonly List<int> sizes = new List<int>();

    public IntPtr Alloc(int size)
    {
        IntPtr p = Marshal.AllocHGlobal(size);
        blocks.Add(p);
        sizes.Add(size);
        Marshal.Copy(new byte[size], 0, p, size);
        return p;
    }

    public IntPtr Text(string text)
    {
        byte[] bytes = Terminal.Text.GetBytes(text ?? "");
        IntPtr p = Alloc(bytes.Length + 1);
        Marshal.Copy(bytes, 0, p, bytes.Length);
        return p;
    }

    public void Dispose()
    {
        for (int i = 0; i < blocks.Count; ++i)
        {
            Marshal.Copy(new byte[sizes[i]], 0, blocks[i], sizes[i]);
            Marshal.FreeHGlobal(blocks[i]);
        }
        blocks.Clear();
    }
}

/// <summary>Sends PIN_CancelPIN once the time-out runs out or the token is cancelled, and
/// again every second until the entry returns (a cancel that overtook the entry's own
/// command would leave the entry waiting). An entry the terminal does not end within the
/// grace after the first cancel is ended by closing the connection: a blocked entry always
/// returns then.</summary>
sealed class EntryCanceller : IDisposable
{
    static readonly TimeSpan Again = TimeSpan.FromSeconds(1);
    static readonly TimeSpan Grace = TimeSpan.FromSeconds(2.5);
    readonly object gate = new object();
    readonly Timer timer;
    readonly CancellationTokenRegistration registration;
    DateTime firedAt;
    bool done;

    public EntryCanceller(TimeSpan timeout, CancellationToken token)
    {
        if (timeout != Timeout.InfiniteTimeSpan && timeout < TimeSpan.Zero)
            throw new ArgumentOutOfRangeException(nameof(timeout));
        token.ThrowIfCancellationRequested();
        timer = new Timer(_ => Fire(true), null, Timeout.InfiniteTimeSpan, Again);
        if (timeout != Timeout.InfiniteTimeSpan) timer.Change(timeout, Again);
        if (token.CanBeCanceled) registration = token.Register(() => Fire(false));
    }

    public bool Fired { get; private set; }
    public bool TimedOut { get; private set; }
    public bool ClosedConnection { get; private set; }

    void Fire(bool byTimeout)
    {
        lock (gate)
        {
            if (done || ClosedConnection) return;
            if (!Fired)
            {
                Fired = true;
                TimedOut = byTimeout;
                firedAt = DateTime.UtcNow;
                timer.Change(Again, Again);
            }
            else if (DateTime.UtcNow - firedAt >= Grace)
            {
                ClosedConnection = true;
                NativeMethods.Brixa_Close();
                return;
            }
            NativeMethods.PIN_CancelPIN();
        }
    }

    public void Dispose()
    {
        lock (gate) done = true;
        registration.Dispose();
        timer.Dispose();
    }
}

public sealed partial class Terminal
{
    const int ResultRoom = 512;

    /// <summary>Runs a blocking entry; ends it through the terminal when the time-out runs
    /// out or the token is cancelled (then <see cref="EntryCancelledException"/>), and if the
    /// terminal does not end it, by closing the connection.</summary>
    void RunEntry(Func<byte> entry, string name, TimeSpan timeout, CancellationToken token)
    {
        var canceller = new EntryCanceller(timeout, token);
        byte code;
        string text;
        try
        {
            code = entry();
            text = code == 1 ? null : VantorelException.LastErrorText();  // before any other export
        }
        finally
        {
            canceller.Dispose();
        }
        if (canceller.ClosedConnection)
        {
            open = false;
            Forget();
            throw new EntryCancelledException(name, code, "the terminal did not end the entry; the connection was closed",
                                              canceller.TimedOut, true);
        }
        if (code == 1) return;
        if (canceller.Fired) throw new EntryCancelledException(name, code, text, canceller.TimedOut, false);
        throw new VantorelException(name, code, text);
    }

    static unsafe void Fill(EntryRequest r, UnmanagedBlocks memory, byte* optionBytes, ref PromptLines lines,
                            out int lineCount)
    {
        if (r.OptionBytes == null || r.OptionBytes.Length != 16)
            throw new ArgumentException("16 option bytes", nameof(r.OptionBytes));
        if (r.Lines.Count > PromptLines.Capacity) throw new ArgumentException("at most 10 lines", nameof(r.Lines));
        for (int i = 0; i < 16; ++i) optionBytes[i] = r.OptionBytes[i];
        for (int i = 0; i < r.Lines.Count; ++i)
        {
            Prompt prompt = r.Lines[i];
            if (prompt.Attributes == null || prompt.Attributes.Length != 13)
                throw new ArgumentException("13 attribute bytes", nameof(prompt.Attributes));
            var line = new PromptLine { x = prompt.X, y = prompt.Y, text = memory.Text(prompt.Text) };
            for (int a = 0; a < 13; ++a) line.attributes[a] = prompt.Attributes[a];
            lines[i] = line;
        }
        lineCount = r.Lines.Count;
    }

    static unsafe PinEntryRequest Native(EntryRequest r, UnmanagedBlocks memory)
    {
        var native = new PinEntryRequest
        {
            result = memory.Alloc(ResultRoom),
            resultLength = memory.Alloc(sizeof(int)),
            upperBound = r.UpperBound,
            lowerBound = r.LowerBound,
            selector = r.Selector,
            value1 = r.Value1,
            value2 = r.Value2,
            value3 = r.Value3,
            value4 = r.Value4,
            flagByte = r.FlagByte,
        };
        var pin = r as PinBlockRequest;
        native.mode = pin != null ? (byte)pin.Mode : (byte)0;
        native.accountNumber = memory.Text(pin != null ? pin.AccountNumber : "");
        Fill(r, memory, native.optionBytes, ref native.promptLines, out native.promptLineCount);
        return native;
    }

    static unsafe Interop.ManualEntryRequest NativeManual(CardEntryRequest request, UnmanagedBlocks memory)
    {
        var native = new Interop.ManualEntryRequest
        {
            result = memory.Alloc(ResultRoom),
            resultLength = memory.Alloc(sizeof(int)),
            mode = request.Mode,
            entryKind = request.EntryKind,
            upperBound = request.UpperBound,
            lowerBound = request.LowerBound,
            selector = request.Selector,
            value1 = request.Value1,
            value2 = request.Value2,
            value3 = request.Value3,
            value4 = request.Value4,
            flagByte = request.FlagByte,
        };
        Fill(request, memory, native.optionBytes, ref native.promptLines, out native.promptLineCount);
        return native;
    }

    static byte[] Result(IntPtr result, int count)
    {
        var bytes = new byte[Math.Max(0, Math.Min(count, ResultRoom))];
        Marshal.Copy(result, bytes, 0, bytes.Length);
        return bytes;
    }

    /// <summary>A PIN block entry. Returns the block (secret: clear it when done).</summary>
    public byte[] GetPinBlock(PinBlockRequest request, TimeSpan timeout,
                              CancellationToken cancellation = default(CancellationToken))
    {
        using (var memory = new UnmanagedBlocks())
        {
            PinEntryRequest native = Native(request, memory);
            RunEntry(() => NativeMethods.PIN_GetPINBlock(native), "PIN_GetPINBlock", timeout, cancellation);
            return Result(native.result, Marshal.ReadInt32(native.resultLength));
        }
    }

    /// <summary>A card account entry (bounds 12-20). Returns the account number's bytes.</summary>
    public byte[] GetCardAccount(EntryRequest request, TimeSpan timeout,
                                 CancellationToken cancellation = default(CancellationToken))
    {
        using (var memory = new UnmanagedBlocks())
        {
            PinEntryRequest native = Native(request, memory);
            RunEntry(() => NativeMethods.PIN_GetCardAccount(native), "PIN_GetCardAccount", timeout, cancellation);
            return Result(native.result, Marshal.ReadInt32(native.resultLength));
        }
    }

    /// <summary>A numeric or amount entry (bounds 4-20) whose prompt travels signed with the
    /// application's RSA private key (up to 1024 bits); the terminal holds its public half.</summary>
    public NumericAnswer GetNumericOrAmount(NumericEntryKind kind, EntryRequest request, RSAParameters key,
                                            TimeSpan timeout,
                                            CancellationToken cancellation = default(CancellationToken))
    {
        using (var memory = new UnmanagedBlocks())
        {
            PinEntryRequest native = Native(request, memory);
            RsaPrivateKey nativeKey = RsaKeys.ToNative(key);
            try
            {
                RunEntry(() => NativeMethods.PIN_GetNumericOrAmount((byte)kind, native, nativeKey),
                         "PIN_GetNumericOrAmount", timeout, cancellation);
            }
            finally
            {
                nativeKey = default(RsaPrivateKey);
            }
            int firstByte = Marshal.ReadInt32(native.resultLength);
            int length = 0;
            while (length < ResultRoom - 1 && Marshal.ReadByte(native.result, length) != 0) ++length;
            return new NumericAnswer((byte)firstByte, Result(native.result, length));
        }
    }

    /// <summary>A manual card entry. Returns the data of a data-returning entry (mode 1 or
    /// entry kind 3, frame bytes included); empty for an acknowledged one.</summary>
    public byte[] ManualCardEntry(CardEntryRequest request, TimeSpan timeout,
                                         CancellationToken cancellation = default(CancellationToken))
    {
        using (var memory = new UnmanagedBlocks())
        {
            Interop.ManualEntryRequest native = NativeManual(request, memory);
            RunEntry(() => NativeMethods.MSR_ManualInputCardData(native), "MSR_ManualInputCardData", timeout,
                     cancellation);
            return Result(native.result, Marshal.ReadInt32(native.resultLength));
        }
    }

    /// <summary>Asks the terminal to end the waiting entry (from any thread).</summary>
    public void CancelEntry() => VantorelException.Check(NativeMethods.PIN_CancelPIN(), "PIN_CancelPIN");
}

/// <summary>Turns .NET's RSA key parameters into the library's key record.</summary>
public static class RsaKeys
{
    /// <summary>The record for a private key of up to 1024 bits (all CRT fields present).</summary>
    public static unsafe RsaPrivateKey ToNative(RSAParameters p)
    {
        if (p.Modulus == null || p.D == null || p.P == null || p.Q == null || p.DP == null || p.DQ == null ||
            p.InverseQ == null || p.Exponent == null)
            throw new ArgumentException("a private key with all its fields is needed", nameof(p));
        var key = new RsaPrivateKey();
        int bits = BitLength(p.Modulus);
        if (bits > 1024) throw new ArgumentException("keys up to 1024 bits", nameof(p));
        key.bits = (ushort)bits;
        Put(key.modulus, 128, p.Modulus);
        Put(key.publicExponent, 128, p.Exponent);
        Put(key.privateExponent, 128, p.D);
        Put(key.prime1, 64, p.P);
        Put(key.prime2, 64, p.Q);
        Put(key.exponent1, 64, p.DP);
        Put(key.exponent2, 64, p.DQ);
        Put(key.coefficient, 64, p.InverseQ);
        return key;
    }

    static int Skip(byte[] number)
    {
        int first = 0;
        while (first < number.Length && number[first] == 0) ++first;
        return first;
    }

    static int BitLength(byte[] number)
    {
        int first = Skip(number);
        if (first == number.Length) return 0;
        int bits = (number.Length - first) * 8;
        for (int top = number[first]; top < 0x80; top <<= 1) --bits;
        return bits;
    }

    // Big-endian, right-aligned in its field.
    static unsafe void Put(byte* field, int size, byte[] number)
    {
        int first = Skip(number);
        int length = number.Length - first;
        if (length > size) throw new ArgumentException("a key field is too long for its record field");
        for (int i = 0; i < length; ++i) field[size - length + i] = number[first + i];
    }
}
}
