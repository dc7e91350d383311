// Reads the card reader's settings and changes the decoding setting.
//
//   mono reader_settings.exe PORT [decoding]
//
// PORT: a COM number ("3"), a device path or "hid"; without it, VANTOREL_PORT. decoding:
// '0'-'4' (default '2').
using System;
using System.Text;
using Vantorel;

static class ReaderSettingsExample
{
    static Terminal Open(string[] args)
    {
        string port = args.Length > 0 ? args[0] : Environment.GetEnvironmentVariable("VANTOREL_PORT");
        if (string.IsNullOrEmpty(port)) throw new ArgumentException("usage: reader_settings.exe PORT [decoding] (or VANTOREL_PORT)");
        if (port == "hid") return Terminal.OpenHid();
        int com;
        return int.TryParse(port, out com) ? Terminal.OpenSerial(com) : Terminal.OpenSerial(port);
    }

    static string Show(byte value) => value >= 0x20 && value < 0x7F ? "'" + (char)value + "'" : "0x" + value.ToString("X2");

    static int Main(string[] args)
    {
        byte decoding = (byte)(args.Length > 1 && args[1].Length == 1 ? args[1][0] : '2');
        try
        {
            using (Terminal terminal = Open(args))
            {
                ReaderSettings reader = terminal.Reader;
                Console.WriteLine("firmware: " + Encoding.ASCII.GetString(reader.SecureHeadFirmware));
                Console.WriteLine("output: " + Show(reader.Output));
                byte before = reader.Decoding;
                Console.WriteLine("decoding: " + Show(before));
                Console.WriteLine("key model: " + Show(reader.KeyModel));
                Console.WriteLine("data output format: " + Show(reader.DataOutputFormat));
                Console.WriteLine("security level: " + Show(reader.SecurityLevel));
                reader.Decoding = decoding;
                Console.WriteLine("decoding changed: " + Show(before) + " -> " + Show(reader.Decoding));
            }
        }
        catch (Exception e) when (e is VantorelException || e is ArgumentException)
        {
            Console.Error.WriteLine("error: " + e.Message);
            return 1;
        }
        return 0;
    }
}
