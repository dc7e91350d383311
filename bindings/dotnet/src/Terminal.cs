using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Text;
using Vantorel.Interop;

namespace Vantorel
{
/// <summary>
/// The terminal: opened by the factory methods, closed by <see cref="Dispose"/>. The library
/// holds one connection per process, so a second open while one is open fails with 200.
/// Methods throw <see cref="VantorelException"/> when an export returns anything but 1.
/// Ordinary methods may be called from any thread, also while a capture, secure reading or
/// an entry runs on another one.
/// </summary>
public sealed partial class Terminal : IDisposable
{
    /// <summary>The terminal's USB ids.</summary>
    public const int DefaultVendorId = 0x0ACD, DefaultProductId = 0x3910;

    /// <summary>The COM number a device path is mapped to when none is given.</summary>
    public const int DefaultMappedPort = 100;

    /// <summary>How texts become the bytes the terminal gets: one byte per character.</summary>
    internal static readonly Encoding Text = Encoding.GetEncoding(28591);

    // The handlers the library calls. They are static and live as long as the process, so
    // the collector can never free one while a capture or a reading loop still calls it.
    // The library's context (an int for card data) names the terminal in the registry.
    static readonly PointHandler PointTrampoline = OnPoints;
    static readonly DataHandler DataTrampoline = OnCardData;
    static readonly Dictionary<int, Terminal> Registry = new Dictionary<int, Terminal>();
    static int lastId;

    readonly int id;
    bool open;
    bool hid;  // the pad reports its events over HID only
    readonly object loopLock = new object();
    Exception handlerError;

    Terminal()
    {
        lock (Registry)
        {
            id = ++lastId;
            Registry[id] = this;
        }
        Reader = new ReaderSettings();
    }

    /// <summary>Opens COM <paramref name="comPort"/> (1-100; on Linux /dev/ttyS&lt;n-1&gt;
    /// unless mapped elsewhere).</summary>
    public static Terminal OpenSerial(int comPort, int baudRate = 9600, char parity = 'N', int stopBits = 1,
                                      int dataBits = 8)
    {
        var terminal = new Terminal();
        terminal.Open(() => NativeMethods.Brixa_OpenPort(comPort, baudRate, (byte)parity, stopBits, dataBits),
                      "Brixa_OpenPort");
        return terminal;
    }

    /// <summary>Opens a serial device by its path (a USB adapter, a pseudo-terminal, on
    /// Windows a device name) by mapping COM <paramref name="comPort"/> to it.</summary>
    public static Terminal OpenSerial(string devicePath, int comPort = DefaultMappedPort, int baudRate = 9600,
                                      char parity = 'N', int stopBits = 1, int dataBits = 8)
    {
        if (string.IsNullOrEmpty(devicePath)) throw new ArgumentException("a device path is needed", nameof(devicePath));
        VantorelException.Check(NativeMethods.Brixa_MapPort(comPort, devicePath), "Brixa_MapPort");
        return OpenSerial(comPort, baudRate, parity, stopBits, dataBits);
    }

    /// <summary>Opens the USB HID terminal with these ids.</summary>
    public static Terminal OpenHid(int vendorId = DefaultVendorId, int productId = DefaultProductId)
    {
        var terminal = new Terminal { hid = true };
        terminal.Open(() => NativeMethods.Brixa_OpenHid(vendorId, productId), "Brixa_OpenHid");
        return terminal;
    }

    void Open(Func<byte> openExport, string name)
    {
        byte code = openExport();
        if (code != 1)
        {
            string text = VantorelException.LastErrorText();
            Forget();
            throw new VantorelException(name, code, text);
        }
        open = true;
        NativeMethods.Zelto_AddPointHandle(PointTrampoline, new IntPtr(id));
        NativeMethods.MSR_AddDataHandle(DataTrampoline, id);
    }

    /// <summary>Ends every running capture, reading or entry and closes the connection.</summary>
    public void Dispose()
    {
        if (!open) return;
        open = false;
        NativeMethods.Brixa_Close();
        Forget();
    }

    void Forget()
    {
        lock (Registry) Registry.Remove(id);
    }

    /// <summary>The library's version ("1.12").</summary>
    public static string SdkVersion
    {
        get
        {
            var buffer = new byte[16];
            VantorelException.Check(NativeMethods.Brixa_GetSdkVersion(buffer, out int length), "Brixa_GetSdkVersion");
            return Text.GetString(buffer, 0, length);
        }
    }

    /// <summary>The one-line text of a return code.</summary>
    public static string ReturnCodeText(byte code) => Marshal.PtrToStringAnsi(NativeMethods.Brixa_ReturnCodeText(code));

    // ---- Device ----------------------------------------------------------------------------

    delegate byte BlockGetter([Out] byte[] buffer, out int length);

    static byte[] Block(BlockGetter getter, string name, int room = 505)
    {
        var buffer = new byte[room];
        VantorelException.Check(getter(buffer, out int length), name);
        Array.Resize(ref buffer, length);
        return buffer;
    }

    /// <summary>The terminal's firmware version.</summary>
    public string Version => Text.GetString(Block(NativeMethods.Brixa_GetVersion, "Brixa_GetVersion"));

    /// <summary>The terminal's model number.</summary>
    public string ModelNumber => Text.GetString(Block(NativeMethods.Brixa_GetModelNumber, "Brixa_GetModelNumber"));

    /// <summary>The terminal's serial number (8 characters when set).</summary>
    public string SerialNumber
    {
        get { return Text.GetString(Block(NativeMethods.Brixa_GetSerialNumber, "Brixa_GetSerialNumber")); }
        set
        {
            VantorelException.Check(NativeMethods.Brixa_SetSerialNumber(value, value == null ? 0 : value.Length),
                                    "Brixa_SetSerialNumber");
        }
    }

    /// <summary>Drives the LEDs (each selector 0-4).</summary>
    public void SetLeds(byte select1, byte select2) =>
        VantorelException.Check(NativeMethods.Brixa_ControlLED(select1, select2), "Brixa_ControlLED");

    /// <summary>Plays a tone (6-39999 Hz, duration 0-65535).</summary>
    public void PlayTone(int frequency, int duration) =>
        VantorelException.Check(NativeMethods.Brixa_GenerateTone(frequency, duration), "Brixa_GenerateTone");

    /// <summary>Restarts the terminal; the connection stays open.</summary>
    public void Restart() => VantorelException.Check(NativeMethods.Brixa_ReSet(), "Brixa_ReSet");

    // ---- Drawing (320 x 240; colour bytes are the pad's) ----------------------------------

    public void SetBrushColor(byte c1, byte c2, byte c3) =>
        VantorelException.Check(NativeMethods.Zelto_BrushColor(c1, c2, c3), "Zelto_BrushColor");

    public void SetTextColor(byte c1, byte c2, byte c3) =>
        VantorelException.Check(NativeMethods.Zelto_SetTextColor(c1, c2, c3), "Zelto_SetTextColor");

    public void DrawLine(int x1, int y1, int x2, int y2) =>
        VantorelException.Check(NativeMethods.Zelto_DrawLine(x1, y1, x2, y2), "Zelto_DrawLine");

    public void DrawRectangle(int left, int top, int right, int bottom) =>
        VantorelException.Check(NativeMethods.Zelto_DrawRectangle(left, top, right, bottom), "Zelto_DrawRectangle");

    public void FillRectangle(int left, int top, int right, int bottom) =>
        VantorelException.Check(NativeMethods.Zelto_FillRectangle(left, top, right, bottom), "Zelto_FillRectangle");

    /// <summary>Draws text at a point, one byte per character.</summary>
    public void DrawText(int x, int y, string text)
    {
        byte[] bytes = Text.GetBytes(text ?? "");
        VantorelException.Check(NativeMethods.Zelto_DrawString(x, y, bytes.Length, bytes), "Zelto_DrawString");
    }

    /// <summary>The display's backlight level (0-200).</summary>
    public byte Backlight
    {
        get
        {
            VantorelException.Check(NativeMethods.Zelto_ReviewBackLight(out byte level), "Zelto_ReviewBackLight");
            return level;
        }
        set { VantorelException.Check(NativeMethods.Zelto_SetBackLight(value), "Zelto_SetBackLight"); }
    }

    // ---- Settings --------------------------------------------------------------------------

    /// <summary>The card reader's and secure head's settings.</summary>
    public ReaderSettings Reader { get; }

    // ---- Callbacks -------------------------------------------------------------------------

    static Terminal Find(int key)
    {
        lock (Registry) return Registry.TryGetValue(key, out Terminal t) ? t : null;
    }

    // No exception may unwind through the library's frames: a handler's is kept and thrown
    // by the loop's Stop or Wait.
    void KeepHandlerError(Exception e)
    {
        lock (loopLock)
            if (handlerError == null) handlerError = e;
    }

    internal Exception TakeHandlerError()
    {
        lock (loopLock)
        {
            Exception e = handlerError;
            handlerError = null;
            return e;
        }
    }

    static void OnPoints(IntPtr values, int count, IntPtr context)
    {
        Terminal terminal = Find(context.ToInt32());
        if (terminal == null || values == IntPtr.Zero || count <= 0) return;
        try
        {
            var copy = new int[count];
            Marshal.Copy(values, copy, 0, count);
            EventHandler<PointsEventArgs> handler = terminal.PointsReceived;
            if (handler != null) handler(terminal, new PointsEventArgs(copy, terminal.hid));
        }
        catch (Exception e)
        {
            terminal.KeepHandlerError(e);
        }
    }

    static void OnCardData(IntPtr data, int count, int context)
    {
        Terminal terminal = Find(context);
        if (terminal == null || data == IntPtr.Zero || count <= 0) return;
        var copy = new byte[count];
        try
        {
            Marshal.Copy(data, copy, 0, count);
            EventHandler<CardDataEventArgs> handler = terminal.CardDataReceived;
            if (handler != null) handler(terminal, new CardDataEventArgs(copy));
        }
        catch (Exception e)
        {
            terminal.KeepHandlerError(e);
        }
    }

    /// <summary>Points of a running capture, raised on the capturing thread.</summary>
    public event EventHandler<PointsEventArgs> PointsReceived;

    /// <summary>Card data and PIN-pad keys of secure reading, raised on the reading thread.
    /// The data are secret: never log them.</summary>
    public event EventHandler<CardDataEventArgs> CardDataReceived;
}

/// <summary>One delivery of the point handler.</summary>
public sealed class PointsEventArgs : EventArgs
{
    readonly bool viaHid;

    internal PointsEventArgs(int[] values, bool viaHid)
    {
        Values = values;
        this.viaHid = viaHid;
    }

    /// <summary>(x, y) pairs; (-1, -1) marks a pen-up. Over HID the pad's events come as a
    /// pair of their own: (122, region) for a touched region, (123, 1-3) for its keys.</summary>
    public int[] Values { get; }

    /// <summary>Whether this is the pad's event pair rather than a point (over HID only:
    /// over serial a lone point may lie at x 122 or 123).</summary>
    public bool IsPadEvent => viaHid && Values.Length == 2 && (Values[0] == 122 || Values[0] == 123) &&
                              Values[1] >= 0 && Values[1] <= 254;
}

/// <summary>The PIN-pad keys secure reading reports.</summary>
public enum PinPadKey
{
    None = 0,
    Cancel = 1,
    Backspace = 2,
    Enter = 3,
}

/// <summary>One delivery of the card-data handler: card data or a key. The bytes are
/// secret; <see cref="ToString"/> shows only their kind and count.</summary>
public sealed class CardDataEventArgs : EventArgs
{
    internal CardDataEventArgs(byte[] data) { Data = data; }

    /// <summary>The bytes as delivered (the copy is the handler's to clear).</summary>
    public byte[] Data { get; }

    /// <summary>A key event {0x7B, key} rather than card data.</summary>
    public bool IsKey => Data.Length == 2 && Data[0] == 0x7B;

    /// <summary>The key of a key event, else None.</summary>
    public PinPadKey Key => IsKey && Data[1] >= 1 && Data[1] <= 3 ? (PinPadKey)Data[1] : PinPadKey.None;

    /// <summary>A framed record from the secure head (starts with 0x02) rather than plain
    /// track text.</summary>
    public bool IsRecord => !IsKey && Data.Length > 0 && Data[0] == 0x02;

    public override string ToString() =>
        IsKey ? "key " + Key : (IsRecord ? "record" : "tracks") + ", " + Data.Length + " bytes";
}
}
