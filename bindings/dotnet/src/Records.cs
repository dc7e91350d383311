// The records the entries take by value, laid out as the C compiler lays them out: natural
// alignment, fields in the header's order. Pointers are IntPtr so that the records stay
// blittable and keep their layout on 32-bit and 64-bit alike.
using System;
using System.Runtime.InteropServices;

namespace Vantorel.Interop
{
/// <summary>One line of text for the terminal's display (21 + n bytes on the wire).</summary>
[StructLayout(LayoutKind.Sequential)]
public unsafe struct PromptLine
{
    /// <summary>Passed to the terminal unchanged.</summary>
    public fixed byte attributes[13];
    public int x;
    public int y;
    /// <summary>Zero-terminated text, not null (at most 234 bytes).</summary>
    public IntPtr text;
}

/// <summary>The ten prompt lines of a request, inline as in the C record.</summary>
[StructLayout(LayoutKind.Sequential)]
public unsafe struct PromptLines
{
    public const int Capacity = 10;
    PromptLine line0, line1, line2, line3, line4, line5, line6, line7, line8, line9;

    public PromptLine this[int index]
    {
        get
        {
            if ((uint)index >= Capacity) throw new ArgumentOutOfRangeException(nameof(index));
            fixed (PromptLine* first = &line0) return first[index];
        }
        set
        {
            if ((uint)index >= Capacity) throw new ArgumentOutOfRangeException(nameof(index));
            fixed (PromptLine* first = &line0) first[index] = value;
        }
    }
}

/// <summary>Request of PIN_GetPINBlock, PIN_GetNumericOrAmount, PIN_GetCardAccount and
/// PIN_GetEncryptedData.</summary>
[StructLayout(LayoutKind.Sequential)]
public unsafe struct PinEntryRequest
{
    /// <summary>Output buffer, not null; 506 bytes are always enough.</summary>
    public IntPtr result;
    /// <summary>Output int, not null.</summary>
    public IntPtr resultLength;
    public byte mode;
    public byte upperBound;
    public byte lowerBound;
    /// <summary>Zero-terminated "" or 16 digits (PIN block only), not null.</summary>
    public IntPtr accountNumber;
    public byte selector;
    public fixed byte optionBytes[16];
    public int value1, value2, value3, value4;
    public byte flagByte;
    public int promptLineCount;
    public PromptLines promptLines;
}

/// <summary>Request of MSR_ManualInputCardData.</summary>
[StructLayout(LayoutKind.Sequential)]
public unsafe struct ManualEntryRequest
{
    /// <summary>Output buffer, not null, at least 512 bytes.</summary>
    public IntPtr result;
    /// <summary>Output int, not null.</summary>
    public IntPtr resultLength;
    public byte mode;
    public byte entryKind;
    public byte upperBound;
    public byte lowerBound;
    public byte selector;
    public fixed byte optionBytes[16];
    public int value1, value2, value3, value4;
    public byte flagByte;
    public int promptLineCount;
    public PromptLines promptLines;
}

/// <summary>RSA private key for PIN_GetNumericOrAmount: big-endian numbers right-aligned in
/// their fields, 706 bytes.</summary>
[StructLayout(LayoutKind.Sequential)]
public unsafe struct RsaPrivateKey
{
    public ushort bits;
    public fixed byte modulus[128];
    public fixed byte publicExponent[128];
    public fixed byte privateExponent[128];
    public fixed byte prime1[64];
    public fixed byte prime2[64];
    public fixed byte exponent1[64];
    public fixed byte exponent2[64];
    public fixed byte coefficient[64];
}
}
