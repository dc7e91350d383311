// Captures a signature and saves it as an SVG picture.
//
//   mono sign.exe PORT [signature.svg]
//
// PORT: a COM number ("3"), a device path ("/dev/ttyUSB0", a pseudo-terminal of the virtual
// terminal) or "hid"; without it, VANTOREL_PORT.
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Text;
using System.Threading;
using Vantorel;

static class Sign
{
    static Terminal Open(string[] args)
    {
        string port = args.Length > 0 ? args[0] : Environment.GetEnvironmentVariable("VANTOREL_PORT");
        if (string.IsNullOrEmpty(port)) throw new ArgumentException("usage: sign.exe PORT [file.svg] (or VANTOREL_PORT)");
        if (port == "hid") return Terminal.OpenHid();
        int com;
        return int.TryParse(port, out com) ? Terminal.OpenSerial(com) : Terminal.OpenSerial(port);
    }

    static int Main(string[] args)
    {
        string file = args.Length > 1 ? args[1] : "signature.svg";
        var strokes = new List<List<int[]>>();
        var stroke = new List<int[]>();
        DateTime lastPoint = DateTime.MinValue;
        try
        {
            using (Terminal terminal = Open(args))
            {
                // Runs on the capture's thread: (x, y) pairs, (-1, -1) when the pen lifts.
                terminal.PointsReceived += (sender, e) =>
                {
                    if (e.IsPadEvent) return;
                    lock (strokes)
                    {
                        for (int i = 0; i + 1 < e.Values.Length; i += 2)
                        {
                            if (e.Values[i] == -1 && e.Values[i + 1] == -1)
                            {
                                if (stroke.Count > 0) strokes.Add(stroke);
                                stroke = new List<int[]>();
                            }
                            else
                            {
                                stroke.Add(new[] { e.Values[i], e.Values[i + 1] });
                            }
                        }
                        lastPoint = DateTime.UtcNow;
                    }
                };
                Console.WriteLine("sign on the pad");
                using (Capture capture = terminal.StartCapture(CaptureFormat.Absolute))
                {
                    // Done once the pen has rested for 1.5 s after writing (an application
                    // would rather offer an OK button); give up after a minute without a point.
                    DateTime giveUp = DateTime.UtcNow.AddMinutes(1);
                    while (true)
                    {
                        Thread.Sleep(100);
                        DateTime last;
                        lock (strokes) last = lastPoint;
                        if (last != DateTime.MinValue && DateTime.UtcNow - last > TimeSpan.FromSeconds(1.5)) break;
                        if (last == DateTime.MinValue && DateTime.UtcNow > giveUp) break;
                        if (capture.IsFinished) break;
                    }
                    capture.Stop();
                }
            }
        }
        catch (Exception e) when (e is VantorelException || e is ArgumentException)
        {
            Console.Error.WriteLine("error: " + e.Message);
            return 1;
        }
        lock (strokes)
        {
            if (stroke.Count > 0) strokes.Add(stroke);
            if (strokes.Count == 0)
            {
                Console.Error.WriteLine("error: nothing was signed");
                return 1;
            }
            File.WriteAllText(file, Svg(strokes));
            Console.WriteLine(strokes.Sum(s => s.Count) + " points in " + strokes.Count + " strokes, saved to " + file);
        }
        return 0;
    }

    // The pad's coordinates run from 0 to 1023 each way; one polyline per stroke.
    static string Svg(List<List<int[]>> strokes)
    {
        var svg = new StringBuilder();
        svg.AppendLine("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 1024 1024\" width=\"512\" height=\"512\">");
        svg.AppendLine("<rect width=\"1024\" height=\"1024\" fill=\"white\"/>");
        foreach (List<int[]> s in strokes)
        {
            svg.Append("<polyline fill=\"none\" stroke=\"black\" stroke-width=\"4\" points=\"");
            svg.Append(string.Join(" ", s.Select(p => p[0] + "," + p[1])));
            svg.AppendLine("\"/>");
        }
        svg.AppendLine("</svg>");
        return svg.ToString();
    }
}
