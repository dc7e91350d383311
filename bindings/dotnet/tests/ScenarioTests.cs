// One scenario per family: the binding against libvantorel and the virtual terminal over a
// pseudo-terminal, asserting what the application gets and the commands on the wire.
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Runtime.CompilerServices;
using System.Security.Cryptography;
using System.Text;
using System.Text.RegularExpressions;
using System.Threading;
using Vantorel.Interop;

namespace Vantorel.Tests
{
static class ScenarioTests
{
    const string Handshakes = "78 46 01|73 46 E1 01 30";
    static readonly TimeSpan Long = TimeSpan.FromSeconds(10);

    static Terminal Open(VirtualTerminal terminal) => Terminal.OpenSerial(terminal.Link, comPort: 7);

    static byte[] Bytes(string text) => Encoding.ASCII.GetBytes(text);

    static void Commands(VirtualTerminal terminal, string expected)
    {
        Check.Sequence(expected.Split('|'), VirtualTerminal.Commands(terminal.Finish()), "commands on the wire");
    }

    [Test]
    public static void DeviceAndErrors()
    {
        var missing = Check.Throws<VantorelException>(() => Terminal.OpenSerial("/nonexistent/vterm-tty", 9),
                                                      "opening a missing device");
        Check.Equal(ReturnCode.Failure, missing.ReturnCode, "a missing device's code");
        Check.True(missing.Text.Length > 0 && missing.Message.Contains(missing.Text), "the failing thread's text");
        var header = File.ReadAllText(Path.Combine(Env.Source, "include", "vantorel.h"));
        Check.Equal(Regex.Match(header, "VANTOREL_VERSION_STRING \"([^\"]+)\"").Groups[1].Value, Terminal.SdkVersion,
                    "the library's version");
        using (var vterm = new VirtualTerminal("device", "wait led", "frames"))
        {
            Terminal terminal = Open(vterm);
            using (terminal)
            {
                Check.Equal("VT 2.04", terminal.Version, "firmware version");
                Check.Equal("VT-3910", terminal.ModelNumber, "model number");
                terminal.SerialNumber = "AB12CD34";
                Check.Equal("AB12CD34", terminal.SerialNumber, "serial number read back");
                var refused = Check.Throws<VantorelException>(() => terminal.SerialNumber = "SHORT", "a short serial");
                Check.Equal(ReturnCode.InvalidArgument, refused.ReturnCode, "a short serial's code");
                var second = Check.Throws<VantorelException>(() => Terminal.OpenSerial(vterm.Link, 8), "a second open");
                Check.Equal(ReturnCode.AlreadyOpen, second.ReturnCode, "a second open's code");
                Check.True(second.Text.Length > 0 && second.Message.Contains("Brixa_OpenPort"),
                           "the second open says why: " + second.Message);
                terminal.SetLeds(1, 2);
            }
            var closed = Check.Throws<VantorelException>(() => terminal.Version.ToString(), "a command after Dispose");
            Check.Equal(ReturnCode.NotOpen, closed.ReturnCode, "a closed terminal's code");
            Commands(vterm, Handshakes + "|78 46 01|78 46 20|78 46 03 41 42 31 32 43 44 33 34|78 46 02|76 46 01 46");
        }
    }

    [Test]
    public static void Drawing()
    {
        using (var vterm = new VirtualTerminal("drawing", "wait 8A/52/80", "frames"))
        {
            using (Terminal terminal = Open(vterm))
            {
                terminal.SetBrushColor(0xFF, 0x00, 0x10);
                terminal.FillRectangle(10, 10, 50, 40);
                terminal.DrawText(10, 20, "Hi \u00e9");
                var outside = Check.Throws<VantorelException>(() => terminal.DrawLine(320, 0, 0, 0), "x beyond 319");
                Check.Equal(ReturnCode.InvalidArgument, outside.ReturnCode, "a line off the display");
                terminal.Backlight = 150;
                Check.Equal((byte)150, terminal.Backlight, "backlight read back");
            }
            Commands(vterm, Handshakes + "|8A 46 20 FF 00 10|8A 46 22 0A 00 0A 00 32 00 28 00" +
                                "|8A 46 4F 0A 00 14 00 04 00 48 69 20 E9|8A 53 80 01 96|8A 52 80");
        }
    }

    static readonly int[] Stroke1 = { 100, 200, 120, 210, 140, 230 }, Stroke2 = { 300, 300, 320, 310 };

    // The vterm's pen: "sign x,y x,y / x,y ...", a slash lifting the pen between strokes.
    static string Sign(params int[][] strokes) =>
        "sign " + string.Join(" / ", strokes.Select(s => string.Join(
                                         " ", Enumerable.Range(0, s.Length / 2).Select(i => s[2 * i] + "," + s[2 * i + 1]))));

    static int[] Expected(params int[][] strokes) => strokes.SelectMany(s => s.Concat(new[] { -1, -1 })).ToArray();

    [Test]
    public static void Capture()
    {
        using (var vterm = new VirtualTerminal("capture", "wait capture-start", Sign(Stroke1, Stroke2),
                                               "wait capture-exit", "frames"))
        using (Terminal terminal = Open(vterm))
        {
            var values = new List<int>();
            var threads = new HashSet<int>();
            terminal.PointsReceived += (sender, e) =>
            {
                lock (values) values.AddRange(e.Values);
                lock (threads) threads.Add(Thread.CurrentThread.ManagedThreadId);
            };
            int[] expected = Expected(Stroke1, Stroke2);
            using (Capture capture = terminal.StartCapture(CaptureFormat.Absolute))
            {
                Check.Eventually(() => { lock (values) return values.Count >= expected.Length; }, Long, "every point (" + string.Join(",", values) + ")");
                var refused = Check.Throws<VantorelException>(
                    () => terminal.GetCardAccount(new EntryRequest { UpperBound = 16, LowerBound = 16 }, Long),
                    "an entry during the capture");
                Check.Equal(ReturnCode.CaptureActive, refused.ReturnCode, "an entry during the capture");
                capture.Stop();
                Check.True(capture.IsFinished, "the capture's thread ended");
            }
            lock (values) Check.Sequence(expected, values, "points with their pen-ups");
            Check.Equal(1, threads.Count, "points arrive on one thread");
            Check.True(!threads.Contains(Thread.CurrentThread.ManagedThreadId), "not on the caller's thread");
        }
    }

    // The handler is subscribed in a frame of its own, so nothing on this thread's stack
    // keeps a delegate alive: only the binding does.
    [MethodImpl(MethodImplOptions.NoInlining)]
    static List<int> Subscribe(Terminal terminal)
    {
        var values = new List<int>();
        terminal.PointsReceived += (sender, e) => { lock (values) values.AddRange(e.Values); };
        return values;
    }

    [Test]
    public static void CaptureSurvivesACollection()
    {
        using (var vterm = new VirtualTerminal("collect", "wait capture-start", Sign(Stroke1), "wait point-count",
                                               Sign(Stroke2), "wait capture-exit"))
        using (Terminal terminal = Open(vterm))
        {
            List<int> values = Subscribe(terminal);
            using (Capture capture = terminal.StartCapture(CaptureFormat.Absolute))
            {
                Check.Eventually(() => { lock (values) return values.Count >= Stroke1.Length + 2; }, Long, "the first stroke");
                for (int i = 0; i < 3; ++i)
                {
                    GC.Collect();
                    GC.WaitForPendingFinalizers();
                }
                Check.Equal(1, NativeMethods.Zelto_GetPointCount(out uint _), "the point count (the pen goes on)");
                int[] expected = Expected(Stroke1, Stroke2);
                Check.Eventually(() => { lock (values) return values.Count >= expected.Length; }, Long, "every point");
                capture.Stop();
                lock (values) Check.Sequence(expected, values, "points across the collection");
            }
        }
    }

    [Test]
    public static void SecureReading()
    {
        const string track1 = "%B4000123412341234^TEST/CARD^2512101?", track2 = ";4000123412341234=2512101?";
        using (var vterm = new VirtualTerminal("reading", "wait secure-on", "swipe \"" + track1 + "\" " + track2,
                                               "wait key-poll", "wait key-poll", "pinkey enter", "wait secure-off"))
        using (Terminal terminal = Open(vterm))
        {
            var deliveries = new List<CardDataEventArgs>();
            terminal.CardDataReceived += (sender, e) => { lock (deliveries) deliveries.Add(e); };
            using (SecureReading reading = terminal.StartSecureReading())
            {
                Check.Eventually(() => { lock (deliveries) return deliveries.Count >= 2; }, Long, "a swipe and a key");
                var refused = terminal.StartCapture();
                var e = Check.Throws<VantorelException>(() => refused.Wait(Long), "a capture during secure reading");
                Check.Equal(ReturnCode.SecureHeadActive, e.ReturnCode, "a capture during secure reading");
                reading.Stop();
            }
            Check.Equal(2, deliveries.Count, "deliveries");
            Check.Secret(Bytes(track1 + "\r" + track2 + "\r"), deliveries[0].Data, "the tracks");
            Check.True(!deliveries[0].IsKey && !deliveries[0].IsRecord, "plain tracks");
            Check.Equal("tracks, " + deliveries[0].Data.Length + " bytes", deliveries[0].ToString(), "what a log may show");
            Check.Equal(PinPadKey.Enter, deliveries[1].Key, "the key");
            vterm.Finish();
        }
    }

    [Test]
    public static void ReaderSettings()
    {
        using (var vterm = new VirtualTerminal("settings", "wait 73/53/84", "frames"))
        using (Terminal terminal = Open(vterm))
        {
            ReaderSettings reader = terminal.Reader;
            reader.Decoding = (byte)'3';
            Check.Equal((byte)'3', reader.Decoding, "decoding read back");
            reader.KeyModel = (byte)'1';
            Check.Equal((byte)'1', reader.KeyModel, "key model read back");
            var refused = Check.Throws<VantorelException>(() => reader.Decoding = (byte)'9', "decoding '9'");
            Check.Equal(ReturnCode.InvalidArgument, refused.ReturnCode, "decoding '9'");
            Check.True(reader.All.Length > 0, "all settings");
            Check.True(reader.SecureHeadFirmware.Length > 0, "the secure head's firmware");
            reader.SetEncryptOptions(true, false, true, false);
            Commands(vterm, Handshakes + "|73 53 1D 01 33|73 52 1D|73 53 58 01 31|73 52 58|73 52 1F|73 52 22|73 53 84 01 05");
        }
    }

    [Test]
    public static void ManualEntry()
    {
        using (var vterm = new VirtualTerminal("manual", "manual card 4000123412341234=2512", "wait manual-entry",
                                               "manual silent", "wait manual-entry", "wait pin-cancel"))
        using (Terminal terminal = Open(vterm))
        {
            var request = new CardEntryRequest { Mode = 1, EntryKind = 3, UpperBound = 19, LowerBound = 13, Selector = 1 };
            request.Lines.Add(new Prompt("Card number", 8, 100));
            byte[] data = terminal.ManualCardEntry(request, Long);
            byte[] keyed = Bytes("4000123412341234=2512");
            Check.True(data.Length > keyed.Length, "data of a data-returning entry (" + data.Length + " bytes)");
            Check.Secret(keyed, data.Skip(data.Length - 3 - keyed.Length).Take(keyed.Length).ToArray(), "the keyed card");
            var e = Check.Throws<EntryCancelledException>(
                () => terminal.ManualCardEntry(request, TimeSpan.FromMilliseconds(800)), "an unanswered entry");
            Check.True(e.TimedOut && e.ConnectionClosed, "ended by its time-out, the terminal closed");
            Check.Equal(ReturnCode.NotOpen, Check.Throws<VantorelException>(() => terminal.Reader.Decoding.ToString(),
                                                                           "a command after the close").ReturnCode,
                        "a command after the close");
            vterm.Finish();
        }
    }

    internal static string Hex(byte[] bytes) => BitConverter.ToString(bytes).Replace("-", "");

    [Test]
    public static void PinPad()
    {
        RSAParameters key;
        using (var rsa = new RSACryptoServiceProvider(1024)) key = rsa.ExportParameters(true);
        using (var vterm = new VirtualTerminal("pinpad", "pubkey " + Hex(key.Modulus) + " " + Hex(key.Exponent),
                                               "entry hold", "entry hold", "entry default", "entry digits 1250 300",
                                               "entry account 4000123412341234 300", "wait account-entry"))
        using (Terminal terminal = Open(vterm))
        {
            var pin = new PinBlockRequest { UpperBound = 6, LowerBound = 4 };
            pin.Lines.Add(new Prompt("Enter PIN", 10, 20));
            var timedOut = Check.Throws<EntryCancelledException>(
                () => terminal.GetPinBlock(pin, TimeSpan.FromMilliseconds(800)), "a held entry with a time-out");
            Check.True(timedOut.TimedOut && !timedOut.ConnectionClosed, "ended by its time-out, still open");
            Check.Equal(ReturnCode.Status18, timedOut.ReturnCode, "the pad's answer to the cancel");
            using (var source = new CancellationTokenSource(TimeSpan.FromMilliseconds(800)))
            {
                var cancelled = Check.Throws<EntryCancelledException>(
                    () => terminal.GetPinBlock(pin, Timeout.InfiniteTimeSpan, source.Token), "a held entry cancelled");
                Check.True(!cancelled.TimedOut, "ended by its token");
            }
            Check.Secret(Bytes("5A1F3C9E07B2D846"), terminal.GetPinBlock(pin, Long), "the PIN block");
            var amount = new EntryRequest { UpperBound = 8, LowerBound = 4 };
            Check.Secret(Bytes("1250"), terminal.GetNumericOrAmount(NumericEntryKind.Amount, amount, key, Long).Value,
                         "the amount");
            var account = new EntryRequest { UpperBound = 19, LowerBound = 12 };
            Check.Secret(Bytes("4000123412341234"), terminal.GetCardAccount(account, Long), "the account number");
            vterm.Finish();
        }
    }
}
}
