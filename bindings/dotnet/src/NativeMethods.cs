// The flat exports of libvantorel.so / vantorel.dll, one declaration each, and the records
// they take by value. Names, argument order and sizes follow include/vantorel.h; the test
// suite checks every declaration against the header and exports/vantorel.def.
using System;
using System.Runtime.InteropServices;

namespace Vantorel.Interop
{
/// <summary>Point handler: (x, y) pairs, (-1, -1) for a pen-up; runs on the capturing thread.</summary>
[UnmanagedFunctionPointer(CallingConvention.StdCall)]
public delegate void PointHandler(IntPtr values, int count, IntPtr context);

/// <summary>Card-data handler: card data or a 2-byte key event; runs on the reading thread.</summary>
[UnmanagedFunctionPointer(CallingConvention.StdCall)]
public delegate void DataHandler(IntPtr data, int count, int context);

/// <summary>
/// Every export of the library. The calling convention is stdcall (the 32-bit Windows DLL);
/// elsewhere the runtime uses the platform's one. Return values are the one-byte codes
/// (1 success); the two text exports return a static or thread-owned string: read it with
/// Marshal.PtrToStringAnsi, never free it.
/// Delegates handed to Zelto_AddPointHandle or MSR_AddDataHandle must stay reachable for as
/// long as the library may call them (keep them in a field, not in a local variable).
/// </summary>
public static class NativeMethods
{
    /// <summary>vantorel.dll on Windows, libvantorel.so elsewhere.</summary>
    public const string Library = "vantorel";

    [DllImport(Library, EntryPoint = "Brixa_ReturnCodeText", CallingConvention = CallingConvention.StdCall)]
    public static extern IntPtr Brixa_ReturnCodeText(byte code);
    [DllImport(Library, EntryPoint = "Brixa_GetLastError", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Brixa_GetLastError();
    [DllImport(Library, EntryPoint = "Brixa_GetLastErrorText", CallingConvention = CallingConvention.StdCall)]
    public static extern IntPtr Brixa_GetLastErrorText();
    [DllImport(Library, EntryPoint = "Brixa_OpenHid", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Brixa_OpenHid(int vendorId, int productId);
    [DllImport(Library, EntryPoint = "Brixa_OpenPort", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Brixa_OpenPort(int port, int baudRate, byte parity, int stopBits, int dataBits);
    [DllImport(Library, EntryPoint = "Brixa_Close", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Brixa_Close();
    [DllImport(Library, EntryPoint = "Brixa_MapPort", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Brixa_MapPort(int port, [MarshalAs(UnmanagedType.LPStr)] string devicePath);
    [DllImport(Library, EntryPoint = "Brixa_SetTiming", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Brixa_SetTiming(int profile, int minimumGapMs);
    [DllImport(Library, EntryPoint = "Brixa_GetVersion", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Brixa_GetVersion([Out] byte[] buffer, out int length);
    [DllImport(Library, EntryPoint = "Brixa_GetSerialNumber", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Brixa_GetSerialNumber([Out] byte[] buffer, out int length);
    [DllImport(Library, EntryPoint = "Brixa_GetModelNumber", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Brixa_GetModelNumber([Out] byte[] buffer, out int length);
    [DllImport(Library, EntryPoint = "Brixa_SetSerialNumber", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Brixa_SetSerialNumber([MarshalAs(UnmanagedType.LPStr)] string serialNumber, int serialLength);
    [DllImport(Library, EntryPoint = "Brixa_ControlLED", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Brixa_ControlLED(byte ledSelect1, byte ledSelect2);
    [DllImport(Library, EntryPoint = "Brixa_GenerateTone", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Brixa_GenerateTone(int frequency, int duration);
    [DllImport(Library, EntryPoint = "Brixa_ControlAudio", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Brixa_ControlAudio(byte audioSetting);
    [DllImport(Library, EntryPoint = "Brixa_ReSet", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Brixa_ReSet();
    [DllImport(Library, EntryPoint = "Brixa_GetSdkVersion", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Brixa_GetSdkVersion([Out] byte[] buffer, out int length);
    [DllImport(Library, EntryPoint = "Zelto_SetPenColor", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_SetPenColor(byte b1, byte b2, byte b3, byte b4, byte b5, byte b6, byte b7);
    [DllImport(Library, EntryPoint = "Zelto_DrawLine", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_DrawLine(int x1, int y1, int x2, int y2);
    [DllImport(Library, EntryPoint = "Zelto_DrawRectangle", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_DrawRectangle(int left, int top, int right, int bottom);
    [DllImport(Library, EntryPoint = "Zelto_FillRectangle", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_FillRectangle(int left, int top, int right, int bottom);
    [DllImport(Library, EntryPoint = "Zelto_DrawArc", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_DrawArc(int x, int y, int value1, int value2, int value3);
    [DllImport(Library, EntryPoint = "Zelto_FillArc", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_FillArc(int x, int y, int value1, int value2, int value3);
    [DllImport(Library, EntryPoint = "Zelto_BrushColor", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_BrushColor(byte c1, byte c2, byte c3);
    [DllImport(Library, EntryPoint = "Zelto_SetFont", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_SetFont(byte f1, byte f2, byte f3, byte f4, byte f5, byte f6);
    [DllImport(Library, EntryPoint = "Zelto_SetTextColor", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_SetTextColor(byte c1, byte c2, byte c3);
    [DllImport(Library, EntryPoint = "Zelto_SetBackgroundColor", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_SetBackgroundColor(byte c1, byte c2, byte c3);
    [DllImport(Library, EntryPoint = "Zelto_SelectBackgroundMode", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_SelectBackgroundMode(byte mode);
    [DllImport(Library, EntryPoint = "Zelto_DrawString", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_DrawString(int x, int y, int length, byte[] text);
    [DllImport(Library, EntryPoint = "Zelto_DrawStringInRectangle", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_DrawStringInRectangle(int left, int top, int right, int bottom, int length, byte[] text);
    [DllImport(Library, EntryPoint = "Zelto_SetClipArea", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_SetClipArea(int left, int top, int right, int bottom, byte a1, byte a2, byte a3, byte a4);
    [DllImport(Library, EntryPoint = "Zelto_CreateRegion", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_CreateRegion(byte regionId, byte regionKind, byte attribute, int left, int top, int right, int bottom, int length, byte[] data);
    [DllImport(Library, EntryPoint = "Zelto_SetBackLight", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_SetBackLight(byte level);
    [DllImport(Library, EntryPoint = "Zelto_ReviewBackLight", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_ReviewBackLight(out byte level);
    [DllImport(Library, EntryPoint = "Zelto_GetPicture", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_GetPicture(int left, int top, int right, int bottom, [Out] byte[] buffer, int bufferSize, out uint length);
    [DllImport(Library, EntryPoint = "Zelto_ShowPicture", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_ShowPicture(int left, int top, int right, int bottom, byte[] data, uint length);
    [DllImport(Library, EntryPoint = "Zelto_StorePicture", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_StorePicture(byte pictureNumber, byte pictureKind, byte[] data, uint length);
    [DllImport(Library, EntryPoint = "Zelto_ShowStorePicture", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_ShowStorePicture(byte pictureNumber, int left, int top, int right, int bottom);
    [DllImport(Library, EntryPoint = "Zelto_RetrieveStorePicture", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_RetrieveStorePicture([Out] byte[] buffer, out int count);
    [DllImport(Library, EntryPoint = "Zelto_AddPointHandle", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_AddPointHandle(PointHandler handler, IntPtr context);
    [DllImport(Library, EntryPoint = "Zelto_StartCapture", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_StartCapture(byte format, byte captureByte1, byte captureByte2, byte captureByte3, byte captureByte4, byte captureByte5, byte captureByte6, byte captureByte7);
    [DllImport(Library, EntryPoint = "Zelto_ContinueCapture", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_ContinueCapture();
    [DllImport(Library, EntryPoint = "Zelto_PauseCapture", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_PauseCapture(out uint value);
    [DllImport(Library, EntryPoint = "Zelto_GetPointCount", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_GetPointCount(out uint count);
    [DllImport(Library, EntryPoint = "Zelto_ClearSignature", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_ClearSignature();
    [DllImport(Library, EntryPoint = "Zelto_ExitCapture", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_ExitCapture();
    [DllImport(Library, EntryPoint = "Zelto_CalibrateDevice", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_CalibrateDevice();
    [DllImport(Library, EntryPoint = "Zelto_GetSignFormat", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_GetSignFormat(int formatNumber, [Out] byte[] buffer, uint bufferSize, out uint length);
    [DllImport(Library, EntryPoint = "Zelto_SetSignFormat", CallingConvention = CallingConvention.StdCall)]
    public static extern byte Zelto_SetSignFormat(int formatNumber, byte[] data, uint length);
    [DllImport(Library, EntryPoint = "MSR_AddDataHandle", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_AddDataHandle(DataHandler handler, int context);
    [DllImport(Library, EntryPoint = "MSR_EnableSecureHead", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_EnableSecureHead();
    [DllImport(Library, EntryPoint = "MSR_DisableSecureHead", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_DisableSecureHead();
    [DllImport(Library, EntryPoint = "MSR_GetOutputSetting", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_GetOutputSetting(out byte value);
    [DllImport(Library, EntryPoint = "MSR_GetDecodingSetting", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_GetDecodingSetting(out byte value);
    [DllImport(Library, EntryPoint = "MSR_SetDecodingSetting", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_SetDecodingSetting(byte value);
    [DllImport(Library, EntryPoint = "MSR_GetAllSettings", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_GetAllSettings([Out] byte[] buffer, out int length);
    [DllImport(Library, EntryPoint = "MSR_SetEncryption", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_SetEncryption(byte value);
    [DllImport(Library, EntryPoint = "MSR_SerialNumber", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_SerialNumber([Out] byte[] buffer, out int length);
    [DllImport(Library, EntryPoint = "MSR_GetKeyModel", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_GetKeyModel(out byte value);
    [DllImport(Library, EntryPoint = "MSR_SetKeyModel", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_SetKeyModel(byte value);
    [DllImport(Library, EntryPoint = "MSR_GetEncryptedData", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_GetEncryptedData([Out] byte[] buffer, out int length);
    [DllImport(Library, EntryPoint = "MSR_SetEncryptedData", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_SetEncryptedData(byte[] data, int length);
    [DllImport(Library, EntryPoint = "MSR_LoadDeviceKey", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_LoadDeviceKey(byte[] key, int length);
    [DllImport(Library, EntryPoint = "MSR_GetSecurityLevel", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_GetSecurityLevel(out byte value);
    [DllImport(Library, EntryPoint = "MSR_GetMSROutputStatus", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_GetMSROutputStatus(out byte value);
    [DllImport(Library, EntryPoint = "MSR_GetSecureHeadFirmware", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_GetSecureHeadFirmware([Out] byte[] buffer, out int length);
    [DllImport(Library, EntryPoint = "MSR_ReviewSecureHeadPrePANID", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_ReviewSecureHeadPrePANID(out byte value);
    [DllImport(Library, EntryPoint = "MSR_ReviewSecureHeadPostPANID", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_ReviewSecureHeadPostPANID(out byte value);
    [DllImport(Library, EntryPoint = "MSR_ReviewSecureHeadMaskPAN", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_ReviewSecureHeadMaskPAN(out byte value);
    [DllImport(Library, EntryPoint = "MSR_ReviewKSNAndCountID", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_ReviewKSNAndCountID([Out] byte[] buffer, out int length);
    [DllImport(Library, EntryPoint = "MSR_SetSecureHeadPrePANID", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_SetSecureHeadPrePANID(byte value);
    [DllImport(Library, EntryPoint = "MSR_SetSecureHeadPostPANID", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_SetSecureHeadPostPANID(byte value);
    [DllImport(Library, EntryPoint = "MSR_SetSecureHeadMaskPAN", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_SetSecureHeadMaskPAN(byte value);
    [DllImport(Library, EntryPoint = "MSR_SetExpirationData", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_SetExpirationData(byte value);
    [DllImport(Library, EntryPoint = "MSR_GetDataOutputFormat", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_GetDataOutputFormat(out byte value);
    [DllImport(Library, EntryPoint = "MSR_SetDataOutputFormat", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_SetDataOutputFormat(byte value);
    [DllImport(Library, EntryPoint = "MSR_SetOutputEncryptedFormat", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_SetOutputEncryptedFormat(byte value);
    [DllImport(Library, EntryPoint = "MSR_SetEncryptOption", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_SetEncryptOption(byte flag1, byte flag2, byte flag3, byte flag4);
    [DllImport(Library, EntryPoint = "MSR_SetHashOption", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_SetHashOption(byte flag1, byte flag2, byte flag3);
    [DllImport(Library, EntryPoint = "MSR_SetMaskOption", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_SetMaskOption(byte flag1, byte flag2, byte flag3);
    [DllImport(Library, EntryPoint = "MSR_SetDataPINorDataKey", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_SetDataPINorDataKey(byte value);
    [DllImport(Library, EntryPoint = "MSR_getDataPINorDataKey", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_getDataPINorDataKey(out byte value);
    [DllImport(Library, EntryPoint = "MSR_ManualInputCardData", CallingConvention = CallingConvention.StdCall)]
    public static extern byte MSR_ManualInputCardData(ManualEntryRequest request);
    [DllImport(Library, EntryPoint = "PIN_GetPINBlock", CallingConvention = CallingConvention.StdCall)]
    public static extern byte PIN_GetPINBlock(PinEntryRequest request);
    [DllImport(Library, EntryPoint = "PIN_CancelPIN", CallingConvention = CallingConvention.StdCall)]
    public static extern byte PIN_CancelPIN();
    [DllImport(Library, EntryPoint = "PIN_GetNumericOrAmount", CallingConvention = CallingConvention.StdCall)]
    public static extern byte PIN_GetNumericOrAmount(byte entryMode, PinEntryRequest request, RsaPrivateKey key);
    [DllImport(Library, EntryPoint = "PIN_GetCardAccount", CallingConvention = CallingConvention.StdCall)]
    public static extern byte PIN_GetCardAccount(PinEntryRequest request);
    [DllImport(Library, EntryPoint = "PIN_GetEncryptedData", CallingConvention = CallingConvention.StdCall)]
    public static extern byte PIN_GetEncryptedData(byte dataMode, PinEntryRequest request);
    [DllImport(Library, EntryPoint = "PIN_GetKey", CallingConvention = CallingConvention.StdCall)]
    public static extern byte PIN_GetKey([Out] byte[] keyName, out int keyNameLength);
    [DllImport(Library, EntryPoint = "PIN_ClearKey", CallingConvention = CallingConvention.StdCall)]
    public static extern byte PIN_ClearKey();
    [DllImport(Library, EntryPoint = "PIN_InvalidateKey", CallingConvention = CallingConvention.StdCall)]
    public static extern byte PIN_InvalidateKey();
}
}
