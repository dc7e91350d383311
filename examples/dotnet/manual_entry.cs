// Manual card entry: the cardholder keys the card number on the PIN pad. Prints only how
// many bytes came back, never the data.
//
//   mono manual_entry.exe PORT
//
// PORT: a COM number ("3"), a device path or "hid"; without it, VANTOREL_PORT.
using System;
using Vantorel;

static class ManualEntry
{
    static Terminal Open(string[] args)
    {
        string port = args.Length > 0 ? args[0] : Environment.GetEnvironmentVariable("VANTOREL_PORT");
        if (string.IsNullOrEmpty(port)) throw new ArgumentException("usage: manual_entry.exe PORT (or VANTOREL_PORT)");
        if (port == "hid") return Terminal.OpenHid();
        int com;
        return int.TryParse(port, out com) ? Terminal.OpenSerial(com) : Terminal.OpenSerial(port);
    }

    static int Main(string[] args)
    {
        // Mode 1 with entry kind 3: the terminal returns what was keyed (13-19 digits).
        var request = new CardEntryRequest { Mode = 1, EntryKind = 3, UpperBound = 19, LowerBound = 13 };
        request.Lines.Add(new Prompt("Card number", 8, 40));
        try
        {
            using (Terminal terminal = Open(args))
            {
                byte[] data = terminal.ManualCardEntry(request, TimeSpan.FromMinutes(2));
                Console.WriteLine("manual entry: " + data.Length + " bytes");
                Array.Clear(data, 0, data.Length);
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
