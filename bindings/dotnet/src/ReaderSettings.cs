using System;
using System.Runtime.InteropServices;
using Vantorel.Interop;

namespace Vantorel
{
/// <summary>
/// The card reader's and secure head's settings. Values are single bytes, for most settings
/// a character ('0' is 0x30); what they mean inside the reader is the reader's. Each access
/// is one exchange with the terminal, also allowed during secure reading, a capture or an
/// entry.
/// </summary>
public sealed class ReaderSettings
{
    internal ReaderSettings() {}

    delegate byte ByteGetter(out byte value);
    delegate byte ByteSetter(byte value);
    delegate byte BlockGetter([Out] byte[] buffer, out int length);

    static byte Get(ByteGetter getter, string name)
    {
        VantorelException.Check(getter(out byte value), name);
        return value;
    }

    static void Set(ByteSetter setter, byte value, string name) => VantorelException.Check(setter(value), name);

    static byte[] Block(BlockGetter getter, string name)
    {
        var buffer = new byte[505];
        VantorelException.Check(getter(buffer, out int length), name);
        Array.Resize(ref buffer, length);
        return buffer;
    }

    /// <summary>The output setting (secure reading sets it to '1').</summary>
    public byte Output => Get(NativeMethods.MSR_GetOutputSetting, "MSR_GetOutputSetting");

    /// <summary>The decoding setting, '0'-'4'.</summary>
    public byte Decoding
    {
        get { return Get(NativeMethods.MSR_GetDecodingSetting, "MSR_GetDecodingSetting"); }
        set { Set(NativeMethods.MSR_SetDecodingSetting, value, "MSR_SetDecodingSetting"); }
    }

    /// <summary>The key model, '0'-'1'.</summary>
    public byte KeyModel
    {
        get { return Get(NativeMethods.MSR_GetKeyModel, "MSR_GetKeyModel"); }
        set { Set(NativeMethods.MSR_SetKeyModel, value, "MSR_SetKeyModel"); }
    }

    /// <summary>The data output format, '0'-'2'.</summary>
    public byte DataOutputFormat
    {
        get { return Get(NativeMethods.MSR_GetDataOutputFormat, "MSR_GetDataOutputFormat"); }
        set { Set(NativeMethods.MSR_SetDataOutputFormat, value, "MSR_SetDataOutputFormat"); }
    }

    /// <summary>The data-PIN-or-data-key setting, '0'-'1'.</summary>
    public byte DataPinOrDataKey
    {
        get { return Get(NativeMethods.MSR_getDataPINorDataKey, "MSR_getDataPINorDataKey"); }
        set { Set(NativeMethods.MSR_SetDataPINorDataKey, value, "MSR_SetDataPINorDataKey"); }
    }

    /// <summary>The secure head's pre-PAN setting (any byte).</summary>
    public byte PrePanId
    {
        get { return Get(NativeMethods.MSR_ReviewSecureHeadPrePANID, "MSR_ReviewSecureHeadPrePANID"); }
        set { Set(NativeMethods.MSR_SetSecureHeadPrePANID, value, "MSR_SetSecureHeadPrePANID"); }
    }

    /// <summary>The secure head's post-PAN setting (any byte).</summary>
    public byte PostPanId
    {
        get { return Get(NativeMethods.MSR_ReviewSecureHeadPostPANID, "MSR_ReviewSecureHeadPostPANID"); }
        set { Set(NativeMethods.MSR_SetSecureHeadPostPANID, value, "MSR_SetSecureHeadPostPANID"); }
    }

    /// <summary>The secure head's PAN mask setting (any byte).</summary>
    public byte MaskPan
    {
        get { return Get(NativeMethods.MSR_ReviewSecureHeadMaskPAN, "MSR_ReviewSecureHeadMaskPAN"); }
        set { Set(NativeMethods.MSR_SetSecureHeadMaskPAN, value, "MSR_SetSecureHeadMaskPAN"); }
    }

    public byte SecurityLevel => Get(NativeMethods.MSR_GetSecurityLevel, "MSR_GetSecurityLevel");

    public byte OutputStatus => Get(NativeMethods.MSR_GetMSROutputStatus, "MSR_GetMSROutputStatus");

    /// <summary>All settings as one block.</summary>
    public byte[] All => Block(NativeMethods.MSR_GetAllSettings, "MSR_GetAllSettings");

    /// <summary>The reader's serial number.</summary>
    public byte[] SerialNumber => Block(NativeMethods.MSR_SerialNumber, "MSR_SerialNumber");

    /// <summary>The secure head's firmware version.</summary>
    public byte[] SecureHeadFirmware => Block(NativeMethods.MSR_GetSecureHeadFirmware, "MSR_GetSecureHeadFirmware");

    /// <summary>The encryption setting, '0'-'2' (write only).</summary>
    public void SetEncryption(byte value) => Set(NativeMethods.MSR_SetEncryption, value, "MSR_SetEncryption");

    /// <summary>The expiration-data setting, '0'-'1' (write only).</summary>
    public void SetExpirationData(byte value) =>
        Set(NativeMethods.MSR_SetExpirationData, value, "MSR_SetExpirationData");

    /// <summary>The encrypted output format, '0'-'1' (write only).</summary>
    public void SetOutputEncryptedFormat(byte value) =>
        Set(NativeMethods.MSR_SetOutputEncryptedFormat, value, "MSR_SetOutputEncryptedFormat");

    /// <summary>The four encryption option flags (write only).</summary>
    public void SetEncryptOptions(bool flag1, bool flag2, bool flag3, bool flag4) =>
        VantorelException.Check(NativeMethods.MSR_SetEncryptOption(B(flag1), B(flag2), B(flag3), B(flag4)),
                                "MSR_SetEncryptOption");

    /// <summary>The three hash option flags (write only).</summary>
    public void SetHashOptions(bool flag1, bool flag2, bool flag3) =>
        VantorelException.Check(NativeMethods.MSR_SetHashOption(B(flag1), B(flag2), B(flag3)), "MSR_SetHashOption");

    /// <summary>The three mask option flags (write only).</summary>
    public void SetMaskOptions(bool flag1, bool flag2, bool flag3) =>
        VantorelException.Check(NativeMethods.MSR_SetMaskOption(B(flag1), B(flag2), B(flag3)), "MSR_SetMaskOption");

    static byte B(bool flag) => flag ? (byte)1 : (byte)0;
}
}
