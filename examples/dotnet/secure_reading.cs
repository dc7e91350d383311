// Secure reading: the read head runs on a thread of its own, card data and PIN-pad keys
// arrive in the handler, and the main thread switches the head off. Prints only what kind
// of data arrived and how many bytes, never the data.
//
//   mono secure_reading.exe PORT
//
// PORT: a COM number ("3"), a device path or "hid"; without it, VANTOREL_PORT.
using System;
using System.Threading;
using Vantorel;

static class SecureReadingExample
{
    static Terminal Open(string[] args)
    {
        string port = args.Length > 0 ? args[0] : Environment.GetEnvironmentVariable("VANTOREL_PORT");
        if (string.IsNullOrEmpty(port)) throw new ArgumentException("usage: secure_reading.exe PORT (or VANTOREL_PORT)");
        if (port == "hid") return Terminal.OpenHid();
        int com;
        return int.TryParse(port, out com) ? Terminal.OpenSerial(com) : Terminal.OpenSerial(port);
    }

    static int Main(string[] args)
    {
        int cards = 0;
        using (var finished = new ManualResetEventSlim())
        {
            try
            {
                using (Terminal terminal = Open(args))
                {
                    // Runs on the reading thread. The data are secret: use them, clear them,
                    // never log them.
                    terminal.CardDataReceived += (sender, e) =>
                    {
                        if (e.IsKey)
                        {
                            Console.WriteLine("key: " + e.Key);
                            if (e.Key == PinPadKey.Enter || e.Key == PinPadKey.Cancel) finished.Set();
                            return;
                        }
                        Interlocked.Increment(ref cards);
                        Console.WriteLine("card data: " + e.Data.Length + " bytes, " +
                                          (e.IsRecord ? "encrypted record" : "track text"));
                        Array.Clear(e.Data, 0, e.Data.Length);
                    };
                    using (SecureReading reading = terminal.StartSecureReading())
                    {
                        Console.WriteLine("swipe a card, then press Enter on the PIN pad");
                        finished.Wait(TimeSpan.FromMinutes(1));
                        reading.Stop();  // switches the head off from this thread
                    }
                }
            }
            catch (VantorelException e)
            {
                Console.Error.WriteLine("error: " + e.Message);
                return 1;
            }
        }
        Console.WriteLine(cards + " card(s) read");
        return cards > 0 ? 0 : 1;
    }
}
