// The P/Invoke declarations against the C header and the Windows DLL's module definition:
// every export present once, the same arguments in count, kind and size (as the 32-bit DLL
// takes them on the stack and as a 64-bit library takes them), the records laid out alike.
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Text.RegularExpressions;
using Vantorel.Interop;

namespace Vantorel.Tests
{
static class DeclarationTests
{
    // One C argument or result type: its size in the 32-bit DLL and in a 64-bit library,
    // and whether it is a pointer.
    sealed class CType
    {
        public string Spelling;
        public int Size32, Size64;
        public bool Pointer;
    }

    sealed class Header
    {
        public Dictionary<string, List<CType>> Exports = new Dictionary<string, List<CType>>();
        public Dictionary<string, CType> Results = new Dictionary<string, CType>();
        public Dictionary<string, List<CType>> Callbacks = new Dictionary<string, List<CType>>();
        public Dictionary<string, int> Sizes32 = new Dictionary<string, int>(), Sizes64 = new Dictionary<string, int>();
        public List<Tuple<string, string, int, bool>> Offsets = new List<Tuple<string, string, int, bool>>();
    }

    static Header parsed;

    static Header Parse()
    {
        if (parsed != null) return parsed;
        string text = File.ReadAllText(Path.Combine(Env.Source, "include", "vantorel.h"));
        text = Regex.Replace(text, @"/\*.*?\*/", " ", RegexOptions.Singleline);
        text = Regex.Replace(text, @"//[^\n]*", " ");
        var h = new Header();
        // Record sizes and offsets from the layout asserts: "(64-bit)"/"(32-bit)" where they differ.
        bool inWideBranch = false, inNarrowBranch = false;
        foreach (string line in text.Split('\n'))
        {
            if (line.Contains("__SIZEOF_POINTER__")) { inWideBranch = true; continue; }
            if (inWideBranch && line.StartsWith("#else")) { inWideBranch = false; inNarrowBranch = true; continue; }
            if (line.StartsWith("#endif")) { inWideBranch = inNarrowBranch = false; continue; }
            Match size = Regex.Match(line, @"sizeof\((\w+)\) == (\d+)");
            if (size.Success)
            {
                int n = int.Parse(size.Groups[2].Value);
                if (!inNarrowBranch) h.Sizes64[size.Groups[1].Value] = n;
                if (!inWideBranch) h.Sizes32[size.Groups[1].Value] = n;
            }
            Match offset = Regex.Match(line, @"offsetof\((\w+), (\w+)\) == (\d+)");
            if (offset.Success && !inNarrowBranch)
                h.Offsets.Add(Tuple.Create(offset.Groups[1].Value, offset.Groups[2].Value,
                                           int.Parse(offset.Groups[3].Value), inWideBranch));
        }
        foreach (Match m in Regex.Matches(text, @"VANTOREL_API\s+([\w\s\*]+?)\s*VANTOREL_CALL\s*(\w+)\s*\(([^)]*)\)"))
        {
            h.Results[m.Groups[2].Value] = Type(h, m.Groups[1].Value);
            h.Exports[m.Groups[2].Value] = Arguments(h, m.Groups[3].Value);
        }
        foreach (Match m in Regex.Matches(text, @"typedef\s+void\s*\(\s*VANTOREL_CALL\s*\*\s*(\w+)\)\s*\(([^)]*)\)"))
            h.Callbacks[m.Groups[1].Value] = Arguments(h, m.Groups[2].Value);
        return parsed = h;
    }

    static List<CType> Arguments(Header h, string list)
    {
        var types = new List<CType>();
        foreach (string argument in list.Split(','))
        {
            string a = Regex.Replace(argument.Trim(), @"\s+", " ");
            if (a == "void" || a == "") continue;
            types.Add(Type(h, Regex.Replace(a, @"\s*\b\w+$", "")));  // drop the name
        }
        return types;
    }

    static CType Type(Header h, string spelling)
    {
        string s = Regex.Replace(spelling.Replace("const ", "").Trim(), @"\s*\*", "*");
        var t = new CType { Spelling = s };
        if (s.EndsWith("*") || s.StartsWith("Vantorel"))
        {
            t.Pointer = true;
            t.Size32 = 4;
            t.Size64 = 8;
        }
        else if (s == "char" || s == "unsigned char") t.Size32 = t.Size64 = 1;
        else if (s == "unsigned short") t.Size32 = t.Size64 = 2;
        else if (s == "int" || s == "unsigned int") t.Size32 = t.Size64 = 4;
        else if (h.Sizes64.ContainsKey(s))
        {
            t.Size32 = h.Sizes32[s];
            t.Size64 = h.Sizes64[s];
        }
        else throw new TestFailure("the header uses a type this test does not know: " + s);
        return t;
    }

    static int Stack32(int size) => (size + 3) / 4 * 4;

    static Dictionary<string, int> DefStackBytes()
    {
        var def = new Dictionary<string, int>();
        foreach (string line in File.ReadAllLines(Path.Combine(Env.Source, "exports", "vantorel.def")))
        {
            Match m = Regex.Match(line, @"^\s*(\w+) = (\w+)@(\d+) @\d+");
            if (m.Success) def[m.Groups[1].Value] = int.Parse(m.Groups[3].Value);
        }
        return def;
    }

    static Dictionary<string, MethodInfo> Declarations()
    {
        var declared = new Dictionary<string, MethodInfo>();
        foreach (MethodInfo m in typeof(NativeMethods).GetMethods(BindingFlags.Public | BindingFlags.Static))
        {
            var import = m.GetCustomAttribute<DllImportAttribute>();
            if (import == null) continue;
            Check.Equal("vantorel", import.Value, m.Name + ": library");
            Check.Equal(CallingConvention.StdCall, import.CallingConvention, m.Name + ": calling convention");
            string entry = import.EntryPoint ?? m.Name;
            Check.True(!declared.ContainsKey(entry), entry + " is declared twice");
            declared[entry] = m;
        }
        return declared;
    }

    // A managed type's size as the 32-bit or the 64-bit C compiler would lay it out, and
    // its alignment.
    static int ManagedSize(Type t, bool wide, out int align)
    {
        if (t == typeof(IntPtr) || t.IsByRef || t.IsArray || t == typeof(string) || typeof(Delegate).IsAssignableFrom(t))
        {
            align = wide ? 8 : 4;
            return align;
        }
        if (t.IsPrimitive)
        {
            align = Marshal.SizeOf(t);
            return align;
        }
        int size = 0;
        align = 1;
        foreach (FieldInfo f in t.GetFields(BindingFlags.Instance | BindingFlags.Public | BindingFlags.NonPublic))
        {
            int fieldAlign;
            int fieldSize;
            var fixedBuffer = f.GetCustomAttribute<System.Runtime.CompilerServices.FixedBufferAttribute>();
            if (fixedBuffer != null)
            {
                fieldSize = fixedBuffer.Length * ManagedSize(fixedBuffer.ElementType, wide, out fieldAlign);
            }
            else
            {
                fieldSize = ManagedSize(f.FieldType, wide, out fieldAlign);
            }
            size = (size + fieldAlign - 1) / fieldAlign * fieldAlign + fieldSize;
            align = Math.Max(align, fieldAlign);
        }
        return (size + align - 1) / align * align;
    }

    static int ManagedSize(Type t, bool wide) => ManagedSize(t, wide, out int _);

    // Whether a managed parameter type can stand for the C type.
    static bool SameKind(CType c, Type managed)
    {
        if (c.Pointer)
            return managed == typeof(IntPtr) || managed.IsByRef || managed.IsArray || managed == typeof(string) ||
                   typeof(Delegate).IsAssignableFrom(managed);
        switch (c.Spelling)
        {
        case "char":
        case "unsigned char": return managed == typeof(byte) || managed == typeof(sbyte);
        case "int": return managed == typeof(int);
        case "unsigned int": return managed == typeof(uint);
        default: return managed.Name == c.Spelling;
        }
    }

    static void CompareArguments(string name, List<CType> c, ParameterInfo[] managed)
    {
        Check.Equal(c.Count, managed.Length, name + ": argument count");
        for (int i = 0; i < c.Count; ++i)
        {
            Type t = managed[i].ParameterType;
            string what = name + " argument " + (i + 1) + " (" + c[i].Spelling + " / " + t.Name + ")";
            Check.True(SameKind(c[i], t), what + ": kind");
            Check.Equal(Stack32(c[i].Size32), Stack32(ManagedSize(t, false)), what + ": 32-bit size");
            Check.Equal(c[i].Size64, ManagedSize(t, true), what + ": 64-bit size");
        }
    }

    [Test]
    public static void EveryExportIsDeclaredWithItsArguments()
    {
        Header h = Parse();
        Dictionary<string, int> def = DefStackBytes();
        Dictionary<string, MethodInfo> declared = Declarations();
        Check.True(h.Exports.Count >= 91, "the header declares " + h.Exports.Count + " exports");
        Check.Sequence(h.Exports.Keys.OrderBy(k => k, StringComparer.Ordinal),
                       def.Keys.OrderBy(k => k, StringComparer.Ordinal), "header and .def name the same exports");
        Check.Sequence(h.Exports.Keys.OrderBy(k => k, StringComparer.Ordinal),
                       declared.Keys.OrderBy(k => k, StringComparer.Ordinal),
                       "header and NativeMethods name the same exports");
        foreach (var export in h.Exports)
        {
            Check.Equal(def[export.Key], export.Value.Sum(t => Stack32(t.Size32)), export.Key + ": .def stack bytes");
            MethodInfo m = declared[export.Key];
            CompareArguments(export.Key, export.Value, m.GetParameters());
            CType result = h.Results[export.Key];
            Check.Equal(result.Pointer ? typeof(IntPtr) : typeof(byte), m.ReturnType, export.Key + ": result");
        }
    }

    [Test]
    public static void CallbacksMatchTheHandlerTypes()
    {
        Header h = Parse();
        var pairs = new Dictionary<string, Type>
        {
            { "VantorelPointHandler", typeof(PointHandler) },
            { "VantorelDataHandler", typeof(DataHandler) },
        };
        Check.Equal(pairs.Count, h.Callbacks.Count, "handler types in the header");
        foreach (var pair in pairs)
        {
            var mark = pair.Value.GetCustomAttribute<UnmanagedFunctionPointerAttribute>();
            Check.True(mark != null && mark.CallingConvention == CallingConvention.StdCall,
                       pair.Value.Name + " is a stdcall function pointer");
            MethodInfo invoke = pair.Value.GetMethod("Invoke");
            Check.Equal(typeof(void), invoke.ReturnType, pair.Value.Name + ": result");
            CompareArguments(pair.Key, h.Callbacks[pair.Key], invoke.GetParameters());
        }
    }

    [Test]
    public static void RecordsAreLaidOutAsInC()
    {
        Header h = Parse();
        bool wide = IntPtr.Size == 8;
        foreach (string record in new[] { "PromptLine", "PinEntryRequest", "ManualEntryRequest", "RsaPrivateKey" })
        {
            Type t = typeof(NativeMethods).Assembly.GetType("Vantorel.Interop." + record);
            Check.Equal(h.Sizes64[record], ManagedSize(t, true), record + ": 64-bit size");
            Check.Equal(h.Sizes32[record], ManagedSize(t, false), record + ": 32-bit size");
            Check.Equal((wide ? h.Sizes64 : h.Sizes32)[record], Marshal.SizeOf(t), record + ": size in this process");
        }
        // Offsets the header pins for every width or for this one (64-bit here).
        foreach (var o in h.Offsets.Where(o => wide || !o.Item4))
        {
            Type t = typeof(NativeMethods).Assembly.GetType("Vantorel.Interop." + o.Item1);
            Check.Equal(o.Item3, Marshal.OffsetOf(t, o.Item2).ToInt32(), o.Item1 + "." + o.Item2 + " offset");
        }
    }
}
}
