// Says what the C# binding's detail calls give, as JSON on stdout, for
// test_raminfo_cs.py to compare with raminfo --detail. A typed Detail is
// written back by reflection, each property under its name in snake_case
// (Pmic0ManufacturerId as pmic0_manufacturer_id), so that the test sees
// every property and the document key it stands for; text is ASCII with \u
// escapes.
//
//   mono DetailCheck.exe from FILE...     per file: GetDetailJsonFrom and GetDetailFrom of its bytes
//   mono DetailCheck.exe blocks           null, empty, short and empty-table blocks
//   mono DetailCheck.exe live             GetDetailJson and GetDetail
//   mono DetailCheck.exe threads FILE...  the files' documents from 6 threads at once
//   mono DetailCheck.exe parse FILE       Detail.Parse of the file's text, or the exception's message
//   mono DetailCheck.exe version          DetailVersion()
using System;
using System.Collections;
using System.Collections.Generic;
using System.Globalization;
using System.IO;
using System.Reflection;
using System.Text;
using System.Threading;
using Tarnwick;

static class DetailCheck
{
    // Properties that are not document keys, and the one key a document
    // leaves out rather than writing null (the reason, only when unreadable).
    static readonly string[] NotKeys = { "Json", "Value" };
    static readonly string[] OmittedWhenNull = { "Detail.Reason" };

    static string Str(string s)
    {
        if (s == null) return "null";
        var b = new StringBuilder("\"");
        foreach (char c in s) {
            if (c == '"' || c == '\\') b.Append('\\').Append(c);
            else if (c < 0x20 || c > 0x7E) b.AppendFormat(CultureInfo.InvariantCulture, "\\u{0:x4}", (int)c);
            else b.Append(c);
        }
        return b.Append('"').ToString();
    }

    static string SnakeCase(string name)
    {
        var b = new StringBuilder();
        for (int i = 0; i < name.Length; i++) {
            if (i > 0 && char.IsUpper(name[i])) b.Append('_');
            b.Append(char.ToLowerInvariant(name[i]));
        }
        return b.ToString();
    }

    static string Write(object value)
    {
        if (value == null) return "null";
        if (value is string) return Str((string)value);
        if (value is bool) return (bool)value ? "true" : "false";
        if (value is int || value is long || value is ulong)
            return Convert.ToString(value, CultureInfo.InvariantCulture);
        if (value is IEnumerable) {
            var items = new List<string>();
            foreach (object item in (IEnumerable)value) items.Add(Write(item));
            return "[" + string.Join(",", items) + "]";
        }
        var fields = new List<string>();
        foreach (PropertyInfo p in value.GetType().GetProperties(BindingFlags.Public | BindingFlags.Instance)) {
            if (Array.IndexOf(NotKeys, p.Name) >= 0) continue;
            object v = p.GetValue(value, null);
            if (v == null && Array.IndexOf(OmittedWhenNull, value.GetType().Name + "." + p.Name) >= 0) continue;
            fields.Add(Str(SnakeCase(p.Name)) + ":" + Write(v));
        }
        return "{" + string.Join(",", fields) + "}";
    }

    static string Both(byte[] block)
    {
        return "{\"json\":" + Str(RamInfo.GetDetailJsonFrom(block)) + ",\"typed\":" + Write(RamInfo.GetDetailFrom(block)) + "}";
    }

    static int Main(string[] args)
    {
        var output = new List<string>();
        string mode = args.Length > 0 ? args[0] : "";
        if (mode == "from") {
            for (int i = 1; i < args.Length; i++) output.Add(Both(File.ReadAllBytes(args[i])));
        } else if (mode == "blocks") {
            var empty = new byte[] { 0, 3, 0, 0, 0, 0, 0, 0 };
            foreach (byte[] block in new[] { null, new byte[0], new byte[] { 0, 3 }, new byte[7], empty })
                output.Add(Both(block));
        } else if (mode == "live") {
            output.Add("{\"json\":" + Str(RamInfo.GetDetailJson()) + ",\"typed\":" + Write(RamInfo.GetDetail()) + "}");
        } else if (mode == "threads") {
            var blocks = new List<byte[]>();
            var want = new List<string>();
            for (int i = 1; i < args.Length; i++) {
                blocks.Add(File.ReadAllBytes(args[i]));
                want.Add(RamInfo.GetDetailJsonFrom(blocks[i - 1]));
            }
            int faults = 0, calls = 0;
            var threads = new List<Thread>();
            for (int t = 0; t < 6; t++) {
                int offset = t;
                threads.Add(new Thread(() => {
                    for (int i = 0; i < 40; i++) {
                        int n = (offset + i) % blocks.Count;
                        if (RamInfo.GetDetailJsonFrom(blocks[n]) != want[n]) Interlocked.Increment(ref faults);
                        Interlocked.Increment(ref calls);
                    }
                }));
            }
            foreach (Thread t in threads) t.Start();
            foreach (Thread t in threads) t.Join();
            output.Add("{\"calls\":" + calls + ",\"faults\":" + faults + "}");
        } else if (mode == "parse") {
            try {
                output.Add(Write(Detail.Parse(File.ReadAllText(args[1], new UTF8Encoding(false)))));
            } catch (FormatException e) {
                output.Add(Str(e.Message));
            }
        } else if (mode == "version") {
            output.Add(Str(RamInfo.DetailVersion()));
        } else {
            Console.Error.WriteLine("usage: DetailCheck.exe from FILE... | blocks | live | threads FILE... | parse FILE | version");
            return 2;
        }
        Console.Out.Write("[" + string.Join(",", output) + "]\n");
        return 0;
    }
}
