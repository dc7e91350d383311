// A PIN block entry that another thread cancels when the customer takes too long. Prints
// only the block's length or the code the entry ended with, never the block.
//
//   mono pin_block.exe PORT [seconds]
//
// PORT: a COM number ("3"), a device path or "hid"; without it, VANTOREL_PORT.
using System;
using System.Threading;
using Vantorel;

static class PinBlock
{
    static Terminal Open(string[] args)
    {
        string port = args.Length > 0 ? args[0] : Environment.GetEnvironmentVariable("VANTOREL_PORT");
        if (string.IsNullOrEmpty(port)) throw new ArgumentException("usage: pin_block.exe PORT [seconds] (or VANTOREL_PORT)");
        if (port == "hid") return Terminal.OpenHid();
        int com;
        return int.TryParse(port, out com) ? Terminal.OpenSerial(com) : Terminal.OpenSerial(port);
    }

    static int Main(string[] args)
    {
        double seconds = args.Length > 1 ? double.Parse(args[1], System.Globalization.CultureInfo.InvariantCulture) : 30;
        var request = new PinBlockRequest { Mode = '1', UpperBound = 6, LowerBound = 4 };
        request.Lines.Add(new Prompt("Enter PIN", 10, 20));
        try
        {
            using (Terminal terminal = Open(args))
            using (var cancel = new CancellationTokenSource())
            {
                // The token is cancelled on a timer thread after the time-out; the binding
                // then asks the terminal to end the entry (PIN_CancelPIN).
                cancel.CancelAfter(TimeSpan.FromSeconds(seconds));
                try
                {
                    byte[] block = terminal.GetPinBlock(request, Timeout.InfiniteTimeSpan, cancel.Token);
                    Console.WriteLine("PIN block: " + block.Length + " bytes");
                    Array.Clear(block, 0, block.Length);
                }
                catch (EntryCancelledException e)
                {
                    Console.WriteLine("no PIN within " + seconds + " s: the entry ended with code " + e.Code);
                }
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
