// The tarnwick-smbios-ram-info library from .NET: the memory modules in this
// machine, read from the SMBIOS firmware table, as typed objects.
//
// One file, nothing beyond the base class library; builds for .NET Framework
// 4.5+ and Mono (mcs, csc) and for .NET 6+. Add it to a project, ship the
// library beside the program, and call Tarnwick.RamInfo.GetInventory().
//
// Windows: a process loads only a DLL of its own bitness. A 64-bit process
// needs the DLL of the windows-x64 zip (or the win_amd64 wheel); a 32-bit
// one, such as a .NET Framework program built "Prefer 32-bit" (AnyCPU with
// that box ticked) or for x86, needs the DLL of the windows-x86 zip (or the
// win32 wheel). Both have the same name. Every import below declares
// CallingConvention.Cdecl, the DLL's convention: on x86 .NET would otherwise
// call it as StdCall.
//
// Loading. The library is named without an extension, so the same
// declaration finds tarnwick-smbios-ram-info.dll on Windows and
// libtarnwick-smbios-ram-info.so on Linux (the name that `cmake --install`
// links to the .so.1). On .NET Core 3.0+ and .NET 6+ the .so.1 is tried first
// (a DllImport resolver, below). With only the .so.1 at hand, Mono takes a
// dllmap in PROGRAM.exe.config:
//   <configuration>
//     <dllmap dll="tarnwick-smbios-ram-info" target="libtarnwick-smbios-ram-info.so.1" os="linux"/>
//   </configuration>
//
// Text. The library owns its texts: they come back as IntPtr and are copied,
// never freed (a string return type would make the marshaller free them).
// They are read as UTF-8; firmware bytes that are not valid UTF-8 become
// U+FFFD.
//
// Calls are serialised with a lock: the library expects one caller at a time
// and rewrites its report on every call.
using System;
using System.Collections.Generic;
using System.Collections.ObjectModel;
using System.Globalization;
using System.Runtime.InteropServices;
using System.Text;

namespace Tarnwick
{
    /// <summary>One memory device (SMBIOS type 17), populated or not. The
    /// properties are the report's keys with the report's values. The report
    /// gives an empty slot (SizeMb 0) only Slot and SizeMb; the others are
    /// then null. In a populated slot an absent string is "" and an absent
    /// number 0, as in the report.</summary>
    public sealed class MemoryModule
    {
        public string Slot { get; private set; }
        public int SizeMb { get; private set; }
        /// <summary>"DDR4", "DDR5", ... or "Unknown".</summary>
        public string Type { get; private set; }
        /// <summary>Rated speed in MT/s as stored (65535 when the firmware says so).</summary>
        public int? SpeedMts { get; private set; }
        public int? ConfiguredSpeedMts { get; private set; }
        public string Manufacturer { get; private set; }
        public string PartNumber { get; private set; }
        public string Serial { get; private set; }
        public int? VoltageMv { get; private set; }
        /// <summary>"DIMM", "SODIMM", ... or "Other".</summary>
        public string FormFactor { get; private set; }

        public bool IsPopulated { get { return SizeMb > 0; } }

        internal static MemoryModule FromReport(Dictionary<string, object> o)
        {
            return new MemoryModule {
                Slot = Report.Text(o, "slot") ?? "",
                SizeMb = Report.Number(o, "size_mb") ?? 0,
                Type = Report.Text(o, "type"),
                SpeedMts = Report.Number(o, "speed_mts"),
                ConfiguredSpeedMts = Report.Number(o, "configured_speed_mts"),
                Manufacturer = Report.Text(o, "manufacturer"),
                PartNumber = Report.Text(o, "part_number"),
                Serial = Report.Text(o, "serial"),
                VoltageMv = Report.Number(o, "voltage_mv"),
                FormFactor = Report.Text(o, "form_factor"),
            };
        }
    }

    /// <summary>The whole report: the total memory and every memory device
    /// in table order.</summary>
    public sealed class Inventory
    {
        /// <summary>Total memory the operating system sees, in MiB; -1 when unknown.</summary>
        public int TotalMb { get; private set; }
        public IReadOnlyList<MemoryModule> Modules { get; private set; }

        /// <summary>The number of populated modules.</summary>
        public int SlotCount
        {
            get {
                int n = 0;
                foreach (MemoryModule m in Modules)
                    if (m.IsPopulated) n++;
                return n;
            }
        }

        internal Inventory(int totalMb, IList<MemoryModule> modules)
        {
            TotalMb = totalMb;
            Modules = new ReadOnlyCollection<MemoryModule>(modules);
        }
    }

    /// <summary>The SMBIOS table could not be read. Message is the library's
    /// own text (raminfo_last_error): on Linux the file and the reason, e.g.
    /// "/sys/firmware/dmi/tables/DMI is readable by root only"; on Windows
    /// "GetSystemFirmwareTable size failed" and the like.</summary>
    public sealed class RamInfoException : Exception
    {
        /// <summary>The report the library still gave (no modules), or null.</summary>
        public Inventory Inventory { get; private set; }

        public RamInfoException(string error, Inventory inventory) : base(error)
        {
            Inventory = inventory;
        }
    }

    public static class RamInfo
    {
        const string Library = "tarnwick-smbios-ram-info";

#if NETCOREAPP3_0_OR_GREATER
        // .NET Core and .NET 6+ look on Linux for libtarnwick-smbios-ram-info.so,
        // which only the -dev package links; the library package's own file,
        // the .so.1, is tried first. An assembly takes one resolver: where the
        // program has set its own, that one decides.
        static RamInfo()
        {
            try
            {
                NativeLibrary.SetDllImportResolver(typeof(RamInfo).Assembly, (name, assembly, searchPath) =>
                {
                    IntPtr handle = IntPtr.Zero;
                    if (name == Library && RuntimeInformation.IsOSPlatform(OSPlatform.Linux))
                        NativeLibrary.TryLoad("libtarnwick-smbios-ram-info.so.1", assembly, searchPath, out handle);
                    return handle;
                });
            }
            catch (InvalidOperationException)
            {
            }
        }
#endif

        [DllImport(Library, EntryPoint = "raminfo_get_json", CallingConvention = CallingConvention.Cdecl)]
        static extern IntPtr NativeGetJson();

        [DllImport(Library, EntryPoint = "raminfo_last_error", CallingConvention = CallingConvention.Cdecl)]
        static extern IntPtr NativeLastError();

        [DllImport(Library, EntryPoint = "raminfo_slot_count", CallingConvention = CallingConvention.Cdecl)]
        static extern int NativeSlotCount();

        [DllImport(Library, EntryPoint = "raminfo_total_mb", CallingConvention = CallingConvention.Cdecl)]
        static extern int NativeTotalMb();

        [DllImport(Library, EntryPoint = "raminfo_version", CallingConvention = CallingConvention.Cdecl)]
        static extern IntPtr NativeVersion();

        static readonly object Gate = new object();

        /// <summary>Every memory device in the SMBIOS table, and the total
        /// memory. Throws RamInfoException when the table cannot be read.</summary>
        public static Inventory GetInventory()
        {
            string json, error;
            lock (Gate) {
                json = Copy(NativeGetJson());
                // In the same turn: the next raminfo_get_json clears it.
                error = Copy(NativeLastError());
            }
            Inventory inventory = ParseReport(json);
            if (error.Length > 0) throw new RamInfoException(error, inventory);
            return inventory;
        }

        /// <summary>The number of populated memory devices. Throws
        /// RamInfoException when the table cannot be read.</summary>
        public static int SlotCount()
        {
            lock (Gate) {
                int n = NativeSlotCount();
                if (n < 0) throw new RamInfoException(Copy(NativeLastError()), null);
                return n;
            }
        }

        /// <summary>Total physical memory in MiB, rounded down; -1 when unknown.</summary>
        public static int TotalMb()
        {
            lock (Gate) return NativeTotalMb();
        }

        /// <summary>The library's version, e.g. "1.0.0".</summary>
        public static string Version()
        {
            lock (Gate) return Copy(NativeVersion());
        }

        /// <summary>Why the table could not be read, or "". Only GetInventory
        /// clears it: after a failed SlotCount it stays until then.</summary>
        public static string LastError()
        {
            lock (Gate) return Copy(NativeLastError());
        }

        /// <summary>An Inventory from the library's JSON text (or the raminfo tool's).</summary>
        public static Inventory ParseReport(string json)
        {
            var report = (Dictionary<string, object>)new Report(json).Document();
            var modules = new List<MemoryModule>();
            foreach (object slot in (List<object>)report["slots"])
                modules.Add(MemoryModule.FromReport((Dictionary<string, object>)slot));
            return new Inventory(Report.Number(report, "total_mb") ?? -1, modules);
        }

        static readonly Encoding Utf8 = new UTF8Encoding(false, false);

        // Marshal.PtrToStringUTF8 is not in .NET Framework; PtrToStringAnsi
        // would read the system code page on Windows.
        static string Copy(IntPtr text)
        {
            if (text == IntPtr.Zero) return "";
            int n = 0;
            while (Marshal.ReadByte(text, n) != 0) n++;
            var bytes = new byte[n];
            Marshal.Copy(text, bytes, 0, n);
            return Utf8.GetString(bytes);
        }
    }

    /// <summary>A reader of the JSON the library writes: objects, arrays,
    /// strings and integers (and, for completeness, the other literals).</summary>
    sealed class Report
    {
        readonly string s;
        int i;

        internal Report(string text) { s = text; }

        internal object Document()
        {
            object v = Value();
            Space();
            if (i != s.Length) throw Bad("text after the report");
            return v;
        }

        internal static string Text(Dictionary<string, object> o, string key)
        {
            object v;
            return o.TryGetValue(key, out v) ? v as string : null;
        }

        internal static int? Number(Dictionary<string, object> o, string key)
        {
            object v;
            if (!o.TryGetValue(key, out v) || !(v is long)) return null;
            return checked((int)(long)v);
        }

        FormatException Bad(string what)
        {
            return new FormatException("raminfo report: " + what + " at offset " + i.ToString(CultureInfo.InvariantCulture));
        }

        void Space()
        {
            while (i < s.Length && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) i++;
        }

        void Expect(char c)
        {
            Space();
            if (i >= s.Length || s[i] != c) throw Bad("'" + c + "' expected");
            i++;
        }

        object Value()
        {
            Space();
            if (i >= s.Length) throw Bad("value expected");
            char c = s[i];
            if (c == '{') return Object();
            if (c == '[') return Array();
            if (c == '"') return String();
            if (c == '-' || (c >= '0' && c <= '9')) return Integer();
            foreach (string word in new[] { "true", "false", "null" })
                if (string.CompareOrdinal(s, i, word, 0, word.Length) == 0) {
                    i += word.Length;
                    return word == "null" ? null : (object)(word == "true");
                }
            throw Bad("value expected");
        }

        Dictionary<string, object> Object()
        {
            var o = new Dictionary<string, object>();
            Expect('{');
            Space();
            if (i < s.Length && s[i] == '}') { i++; return o; }
            for (;;) {
                Space();
                if (i >= s.Length || s[i] != '"') throw Bad("key expected");
                string key = String();
                Expect(':');
                o[key] = Value();
                Space();
                if (i < s.Length && s[i] == ',') { i++; continue; }
                Expect('}');
                return o;
            }
        }

        List<object> Array()
        {
            var a = new List<object>();
            Expect('[');
            Space();
            if (i < s.Length && s[i] == ']') { i++; return a; }
            for (;;) {
                a.Add(Value());
                Space();
                if (i < s.Length && s[i] == ',') { i++; continue; }
                Expect(']');
                return a;
            }
        }

        string String()
        {
            i++;  // the opening quote
            var b = new StringBuilder();
            for (;;) {
                if (i >= s.Length) throw Bad("unterminated string");
                char c = s[i++];
                if (c == '"') return b.ToString();
                if (c != '\\') { b.Append(c); continue; }
                if (i >= s.Length) throw Bad("unterminated escape");
                char e = s[i++];
                switch (e) {
                    case '"': case '\\': case '/': b.Append(e); break;
                    case 'b': b.Append('\b'); break;
                    case 'f': b.Append('\f'); break;
                    case 'n': b.Append('\n'); break;
                    case 'r': b.Append('\r'); break;
                    case 't': b.Append('\t'); break;
                    case 'u':
                        int code;
                        if (i + 4 > s.Length || !int.TryParse(s.Substring(i, 4), NumberStyles.AllowHexSpecifier, CultureInfo.InvariantCulture, out code))
                            throw Bad("bad \\u escape");
                        b.Append((char)code);
                        i += 4;
                        break;
                    default: throw Bad("bad escape");
                }
            }
        }

        long Integer()
        {
            int start = i;
            if (s[i] == '-') i++;
            while (i < s.Length && s[i] >= '0' && s[i] <= '9') i++;
            long v;
            if (!long.TryParse(s.Substring(start, i - start), NumberStyles.AllowLeadingSign, CultureInfo.InvariantCulture, out v))
                throw Bad("integer expected");
            return v;
        }
    }
}
