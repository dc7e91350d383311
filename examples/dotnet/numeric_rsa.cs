// An amount entry whose prompt travels signed with the application's RSA private key (up to
// 1024 bits; the terminal holds the public half). The key is an XML key file as .NET writes
// it (RSA.ToXmlString(true)). Prints only how many digits came back.
//
//   mono numeric_rsa.exe PORT KEY.xml
//
// PORT: a COM number ("3"), a device path or "hid"; without it, VANTOREL_PORT. KEY.xml:
// without it, VANTOREL_RSA_KEY.
using System;
using System.IO;
using System.Security.Cryptography;
using Vantorel;

static class NumericRsa
{
    static Terminal Open(string[] args)
    {
        string port = args.Length > 0 ? args[0] : Environment.GetEnvironmentVariable("VANTOREL_PORT");
        if (string.IsNullOrEmpty(port)) throw new ArgumentException("usage: numeric_rsa.exe PORT KEY.xml (or VANTOREL_PORT)");
        if (port == "hid") return Terminal.OpenHid();
        int com;
        return int.TryParse(port, out com) ? Terminal.OpenSerial(com) : Terminal.OpenSerial(port);
    }

    static int Main(string[] args)
    {
        string keyFile = args.Length > 1 ? args[1] : Environment.GetEnvironmentVariable("VANTOREL_RSA_KEY");
        if (string.IsNullOrEmpty(keyFile))
        {
            Console.Error.WriteLine("error: no key file (argument 2 or VANTOREL_RSA_KEY)");
            return 1;
        }
        RSAParameters key;
        using (RSA rsa = RSA.Create())
        {
            rsa.FromXmlString(File.ReadAllText(keyFile));
            key = rsa.ExportParameters(true);
        }
        var request = new EntryRequest { UpperBound = 8, LowerBound = 4 };
        request.Lines.Add(new Prompt("Amount", 10, 20));
        try
        {
            using (Terminal terminal = Open(args))
            {
                NumericAnswer answer = terminal.GetNumericOrAmount(NumericEntryKind.Amount, request, key,
                                                                   TimeSpan.FromMinutes(1));
                Console.WriteLine("amount entered: " + answer.Value.Length + " digits");
                Array.Clear(answer.Value, 0, answer.Value.Length);
            }
        }
        catch (Exception e) when (e is VantorelException || e is ArgumentException)
        {
            Console.Error.WriteLine("error: " + e.Message);
            return 1;
        }
        finally
        {
            foreach (byte[] secret in new[] { key.D, key.P, key.Q, key.DP, key.DQ, key.InverseQ })
                if (secret != null) Array.Clear(secret, 0, secret.Length);
        }
        return 0;
    }
}
