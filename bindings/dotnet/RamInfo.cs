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
//
// The detail. GetDetail(), GetDetailFrom(byte[]) and their JSON twins give
// the "raminfo-detail/1" document (what `raminfo --detail` prints) from the
// second library, tarnwick-smbios-ram-info-detail (the DLL of that name, or
// libtarnwick-smbios-ram-info-detail.so[.1]; Mono's dllmap takes a second
// line for it, dll="tarnwick-smbios-ram-info-detail"). That library keeps one
// result per thread, so these calls take no lock. The document is read by
// the small JSON reader at the end of this file, not System.Text.Json: that
// is in .NET Core 3.0+ only, while this file also builds for .NET Framework
// and Mono (mcs), whose base class libraries lack it; and
// DataContractJsonSerializer would need a reference to another assembly.
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
        const string DetailLibrary = "tarnwick-smbios-ram-info-detail";

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
                    if ((name == Library || name == DetailLibrary) && RuntimeInformation.IsOSPlatform(OSPlatform.Linux))
                        NativeLibrary.TryLoad("lib" + name + ".so.1", assembly, searchPath, out handle);
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

        [DllImport(DetailLibrary, EntryPoint = "raminfo_detail_json", CallingConvention = CallingConvention.Cdecl)]
        static extern IntPtr NativeDetailJson();

        [DllImport(DetailLibrary, EntryPoint = "raminfo_detail_json_from", CallingConvention = CallingConvention.Cdecl)]
        static extern IntPtr NativeDetailJsonFrom(byte[] block, UIntPtr size);

        [DllImport(DetailLibrary, EntryPoint = "raminfo_detail_version", CallingConvention = CallingConvention.Cdecl)]
        static extern IntPtr NativeDetailVersion();

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

        /// <summary>This machine's "raminfo-detail/1" document, as the
        /// detail library wrote it. Never throws for an unreadable table: the
        /// document then says "readable": false. No lock: the library keeps
        /// one result per thread.</summary>
        public static string GetDetailJson()
        {
            return Copy(NativeDetailJson());
        }

        /// <summary>The document for a saved SMBIOS table in any layout
        /// raminfo --from-dump reads: the RSMB block (what
        /// GetSystemFirmwareTable('RSMB') returns: an 8-byte header, then the
        /// structure table), the dmidecode --dump-bin file raminfo --save-dump
        /// writes on Linux, or a bare table. A null block, one under 4 bytes,
        /// or bytes that hold no table give "readable": false and the
        /// reason.</summary>
        public static string GetDetailJsonFrom(byte[] block)
        {
            // A byte[] is passed pinned, as a pointer to its first byte (NULL for null).
            return Copy(NativeDetailJsonFrom(block, new UIntPtr((ulong)(block == null ? 0 : block.LongLength))));
        }

        /// <summary>GetDetailJson() as typed objects.</summary>
        public static Detail GetDetail()
        {
            return Detail.Parse(GetDetailJson());
        }

        /// <summary>GetDetailJsonFrom(block) as typed objects.</summary>
        public static Detail GetDetailFrom(byte[] block)
        {
            return Detail.Parse(GetDetailJsonFrom(block));
        }

        /// <summary>The detail library's version, e.g. "1.0.0".</summary>
        public static string DetailVersion()
        {
            return Copy(NativeDetailVersion());
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

    /// <summary>A coded field of the detail document: the raw code and its
    /// DMTF DSP0134 name (null for a code without one).</summary>
    public sealed class Coded
    {
        public long Code { get; private set; }
        public string Name { get; private set; }

        internal static Coded From(object value, string key)
        {
            Dictionary<string, object> o = Field.Object(value, key);
            if (o == null) return null;
            return new Coded { Code = Field.Need(Field.Long(o, key, "code"), key + ".code"), Name = Field.Str(o, key, "name") };
        }
    }

    /// <summary>A bit field: the raw word and the names of its set bits.</summary>
    public sealed class Flags
    {
        public int Raw { get; private set; }
        public IReadOnlyList<string> Names { get; private set; }

        internal static Flags From(object value, string key)
        {
            Dictionary<string, object> o = Field.Object(value, key);
            if (o == null) return null;
            return new Flags { Raw = Field.Need(Field.Int(o, key, "raw"), key + ".raw"), Names = Field.Strings(o, "names", key) };
        }
    }

    /// <summary>A string field. Raw is the firmware's string as stored (null
    /// for string number 0 or a number past the string set), with U+FFFD for
    /// each byte that is not UTF-8; BytesHex then holds every byte.
    /// Placeholder is true for a missing or blank string and for fillers such
    /// as "Not Specified".</summary>
    public sealed class FirmwareString
    {
        public int StringNumber { get; private set; }
        public string Raw { get; private set; }
        public string BytesHex { get; private set; }
        public bool Placeholder { get; private set; }

        /// <summary>The string when it holds a real value, else null.</summary>
        public string Value { get { return Placeholder ? null : Raw; } }

        /// <summary>The firmware's bytes of the string; null when there is none.</summary>
        public byte[] FirmwareBytes()
        {
            if (BytesHex != null) {
                var bytes = new byte[BytesHex.Length / 2];
                for (int n = 0; n < bytes.Length; n++)
                    bytes[n] = byte.Parse(BytesHex.Substring(2 * n, 2), NumberStyles.AllowHexSpecifier, CultureInfo.InvariantCulture);
                return bytes;
            }
            return Raw == null ? null : new UTF8Encoding(false).GetBytes(Raw);
        }

        internal static FirmwareString From(object value, string key)
        {
            Dictionary<string, object> o = Field.Object(value, key);
            if (o == null) return null;
            return new FirmwareString {
                StringNumber = Field.Need(Field.Int(o, key, "string_number"), key + ".string_number"),
                Raw = Field.Str(o, key, "raw"),
                BytesHex = Field.Str(o, key, "bytes_hex"),
                Placeholder = Field.Need(Field.Bool(o, key, "placeholder"), key + ".placeholder"),
            };
        }
    }

    /// <summary>A module's maker. Name is one name per maker (null for a
    /// JEDEC code no maker of raminfo's list has); JedecBank and JedecCode are
    /// null for a maker known by name only. Source is "jedec_code", "name",
    /// "system_maker" (a machine maker's label), "part_number" (the part
    /// number follows a maker's scheme) or "module_manufacturer_id"; version
    /// 1.0.0's documents say "manufacturer_string" for "jedec_code".</summary>
    public sealed class Vendor
    {
        public string Name { get; private set; }
        public int? JedecBank { get; private set; }
        public int? JedecCode { get; private set; }
        public string Source { get; private set; }

        internal static Vendor From(object value, string key)
        {
            Dictionary<string, object> o = Field.Object(value, key);
            if (o == null) return null;
            return new Vendor {
                Name = Field.Str(o, key, "name"),
                JedecBank = Field.Int(o, key, "jedec_bank"),
                JedecCode = Field.Int(o, key, "jedec_code"),
                Source = Field.Str(o, key, "source"),
            };
        }
    }

    /// <summary>Memory errors Linux's EDAC counted on the modules joined to a
    /// device; a count is null when it could not be read.</summary>
    public sealed class ModuleErrors
    {
        public ulong? Corrected { get; private set; }
        public ulong? Uncorrected { get; private set; }
        public IReadOnlyList<string> Edac { get; private set; }
        public string MatchedBy { get; private set; }

        internal static ModuleErrors From(object value, string key)
        {
            Dictionary<string, object> o = Field.Object(value, key);
            if (o == null) return null;
            return new ModuleErrors {
                Corrected = Field.ULong(o, key, "corrected"),
                Uncorrected = Field.ULong(o, key, "uncorrected"),
                Edac = Field.Strings(o, "edac", key),
                MatchedBy = Field.Str(o, key, "matched_by"),
            };
        }
    }

    /// <summary>An EDAC module that joined no device.</summary>
    public sealed class UnmatchedModule
    {
        public string Edac { get; private set; }
        public string Label { get; private set; }
        public string Location { get; private set; }
        public ulong? Corrected { get; private set; }
        public ulong? Uncorrected { get; private set; }

        internal static UnmatchedModule From(object value, string key)
        {
            Dictionary<string, object> o = Field.Object(value, key);
            return new UnmatchedModule {
                Edac = Field.Str(o, key, "edac"),
                Label = Field.Str(o, key, "label"),
                Location = Field.Str(o, key, "location"),
                Corrected = Field.ULong(o, key, "corrected"),
                Uncorrected = Field.ULong(o, key, "uncorrected"),
            };
        }
    }

    /// <summary>A controller's errors the kernel could not place on a module.</summary>
    public sealed class UnplacedErrors
    {
        public string Controller { get; private set; }
        public ulong? Corrected { get; private set; }
        public ulong? Uncorrected { get; private set; }

        internal static UnplacedErrors From(object value, string key)
        {
            Dictionary<string, object> o = Field.Object(value, key);
            return new UnplacedErrors {
                Controller = Field.Str(o, key, "controller"),
                Corrected = Field.ULong(o, key, "corrected"),
                Uncorrected = Field.ULong(o, key, "uncorrected"),
            };
        }
    }

    /// <summary>Where per-module error counts come from and whether there
    /// are any; Reason says why not when Available is false.</summary>
    public sealed class MemoryErrors
    {
        public string Source { get; private set; }
        public bool Available { get; private set; }
        public string Reason { get; private set; }
        public IReadOnlyList<UnmatchedModule> Unmatched { get; private set; }
        public IReadOnlyList<UnplacedErrors> Unplaced { get; private set; }

        internal static MemoryErrors From(object value, string key)
        {
            Dictionary<string, object> o = Field.Object(value, key);
            if (o == null) return null;
            return new MemoryErrors {
                Source = Field.Str(o, key, "source"),
                Available = Field.Need(Field.Bool(o, key, "available"), key + ".available"),
                Reason = Field.Str(o, key, "reason"),
                Unmatched = Field.Items(o, "unmatched", key, UnmatchedModule.From),
                Unplaced = Field.Items(o, "unplaced", key, UnplacedErrors.From),
            };
        }
    }

    /// <summary>The document's totals over every array and device.</summary>
    public sealed class DetailTotals
    {
        public int Arrays { get; private set; }
        public int Slots { get; private set; }
        public int Populated { get; private set; }
        public ulong InstalledBytes { get; private set; }
        public bool? Ecc { get; private set; }

        internal static DetailTotals From(object value, string key)
        {
            Dictionary<string, object> o = Field.Object(value, key);
            if (o == null) throw new FormatException("raminfo-detail: " + key + " is missing");
            return new DetailTotals {
                Arrays = Field.Need(Field.Int(o, key, "arrays"), key + ".arrays"),
                Slots = Field.Need(Field.Int(o, key, "slots"), key + ".slots"),
                Populated = Field.Need(Field.Int(o, key, "populated"), key + ".populated"),
                InstalledBytes = Field.Need(Field.ULong(o, key, "installed_bytes"), key + ".installed_bytes"),
                Ecc = Field.Bool(o, key, "ecc"),
            };
        }
    }

    /// <summary>A Physical Memory Array (SMBIOS type 16). A property is null
    /// when the structure's length byte does not cover the field.</summary>
    public sealed class MemoryArray
    {
        public int Handle { get; private set; }
        public int Length { get; private set; }
        public Coded Location { get; private set; }
        public Coded Use { get; private set; }
        public Coded ErrorCorrection { get; private set; }
        public bool? Ecc { get; private set; }
        public long? MaximumCapacityRaw { get; private set; }
        public ulong? ExtendedMaximumCapacityRaw { get; private set; }
        public ulong? MaximumCapacityBytes { get; private set; }
        public int? ErrorInformationHandle { get; private set; }
        public int? DeclaredDevices { get; private set; }
        public int DevicesFound { get; private set; }
        public bool SystemMemory { get; private set; }

        internal static MemoryArray From(object value, string key)
        {
            Dictionary<string, object> o = Field.Object(value, key);
            return new MemoryArray {
                Handle = Field.Need(Field.Int(o, key, "handle"), key + ".handle"),
                Length = Field.Need(Field.Int(o, key, "length"), key + ".length"),
                Location = Coded.From(Field.Get(o, "location"), key + ".location"),
                Use = Coded.From(Field.Get(o, "use"), key + ".use"),
                ErrorCorrection = Coded.From(Field.Get(o, "error_correction"), key + ".error_correction"),
                Ecc = Field.Bool(o, key, "ecc"),
                MaximumCapacityRaw = Field.Long(o, key, "maximum_capacity_raw"),
                ExtendedMaximumCapacityRaw = Field.ULong(o, key, "extended_maximum_capacity_raw"),
                MaximumCapacityBytes = Field.ULong(o, key, "maximum_capacity_bytes"),
                ErrorInformationHandle = Field.Int(o, key, "error_information_handle"),
                DeclaredDevices = Field.Int(o, key, "declared_devices"),
                DevicesFound = Field.Need(Field.Int(o, key, "devices_found"), key + ".devices_found"),
                SystemMemory = Field.Need(Field.Bool(o, key, "system_memory"), key + ".system_memory"),
            };
        }
    }

    /// <summary>A Memory Device (SMBIOS type 17), populated or not. A
    /// property is null when the structure's length byte does not cover the
    /// field; a decoded one (SizeBytes, SpeedMts, Rank, ...) also when the
    /// firmware did not know, its Raw property then holding what it stored.
    /// Errors is null when no EDAC module joined the device.</summary>
    public sealed class MemoryDevice
    {
        public int Handle { get; private set; }
        public int Length { get; private set; }
        public int? ArrayHandle { get; private set; }
        public int? ErrorInformationHandle { get; private set; }
        public FirmwareString Locator { get; private set; }
        public FirmwareString BankLocator { get; private set; }
        public int? SizeRaw { get; private set; }
        public long? ExtendedSizeRaw { get; private set; }
        public ulong? SizeBytes { get; private set; }
        public bool Populated { get; private set; }
        public bool SystemMemory { get; private set; }
        public string OtherMemoryReason { get; private set; }
        public bool? Ecc { get; private set; }
        public int? TotalWidthBits { get; private set; }
        public int? DataWidthBits { get; private set; }
        public Coded FormFactor { get; private set; }
        public int? DeviceSet { get; private set; }
        public Coded MemoryType { get; private set; }
        public Flags TypeDetail { get; private set; }
        public int? SpeedRaw { get; private set; }
        public long? ExtendedSpeedRaw { get; private set; }
        public long? SpeedMts { get; private set; }
        public int? ConfiguredSpeedRaw { get; private set; }
        public long? ExtendedConfiguredSpeedRaw { get; private set; }
        public long? ConfiguredSpeedMts { get; private set; }
        public FirmwareString Manufacturer { get; private set; }
        public Vendor Vendor { get; private set; }
        public FirmwareString SerialNumber { get; private set; }
        public FirmwareString AssetTag { get; private set; }
        public FirmwareString PartNumber { get; private set; }
        public int? AttributesRaw { get; private set; }
        public int? Rank { get; private set; }
        public int? MinimumVoltageMv { get; private set; }
        public int? MaximumVoltageMv { get; private set; }
        public int? ConfiguredVoltageMv { get; private set; }
        public Coded MemoryTechnology { get; private set; }
        public Flags OperatingModeCapability { get; private set; }
        public FirmwareString FirmwareVersion { get; private set; }
        public int? ModuleManufacturerId { get; private set; }
        /// <summary>The maker the module's own SPD code names, beside Vendor;
        /// null without a usable code (and in version 1.0.0's documents).</summary>
        public Vendor ModuleManufacturer { get; private set; }
        public int? ModuleProductId { get; private set; }
        public int? SubsystemControllerManufacturerId { get; private set; }
        public int? SubsystemControllerProductId { get; private set; }
        public ulong? NonVolatileSizeBytes { get; private set; }
        public ulong? VolatileSizeBytes { get; private set; }
        public ulong? CacheSizeBytes { get; private set; }
        public ulong? LogicalSizeBytes { get; private set; }
        public int? Pmic0ManufacturerId { get; private set; }
        public int? Pmic0RevisionNumber { get; private set; }
        public int? RcdManufacturerId { get; private set; }
        public int? RcdRevisionNumber { get; private set; }
        public ModuleErrors Errors { get; private set; }
        /// <summary>Where the module sits; null when not told, and in documents written before positions existed.</summary>
        public Position Position { get; private set; }

        internal static MemoryDevice From(object value, string key)
        {
            Dictionary<string, object> o = Field.Object(value, key);
            return new MemoryDevice {
                Handle = Field.Need(Field.Int(o, key, "handle"), key + ".handle"),
                Length = Field.Need(Field.Int(o, key, "length"), key + ".length"),
                ArrayHandle = Field.Int(o, key, "array_handle"),
                ErrorInformationHandle = Field.Int(o, key, "error_information_handle"),
                Locator = FirmwareString.From(Field.Get(o, "locator"), key + ".locator"),
                BankLocator = FirmwareString.From(Field.Get(o, "bank_locator"), key + ".bank_locator"),
                SizeRaw = Field.Int(o, key, "size_raw"),
                ExtendedSizeRaw = Field.Long(o, key, "extended_size_raw"),
                SizeBytes = Field.ULong(o, key, "size_bytes"),
                Populated = Field.Need(Field.Bool(o, key, "populated"), key + ".populated"),
                SystemMemory = Field.Need(Field.Bool(o, key, "system_memory"), key + ".system_memory"),
                OtherMemoryReason = Field.Str(o, key, "other_memory_reason"),
                Ecc = Field.Bool(o, key, "ecc"),
                TotalWidthBits = Field.Int(o, key, "total_width_bits"),
                DataWidthBits = Field.Int(o, key, "data_width_bits"),
                FormFactor = Coded.From(Field.Get(o, "form_factor"), key + ".form_factor"),
                DeviceSet = Field.Int(o, key, "device_set"),
                MemoryType = Coded.From(Field.Get(o, "memory_type"), key + ".memory_type"),
                TypeDetail = Flags.From(Field.Get(o, "type_detail"), key + ".type_detail"),
                SpeedRaw = Field.Int(o, key, "speed_raw"),
                ExtendedSpeedRaw = Field.Long(o, key, "extended_speed_raw"),
                SpeedMts = Field.Long(o, key, "speed_mts"),
                ConfiguredSpeedRaw = Field.Int(o, key, "configured_speed_raw"),
                ExtendedConfiguredSpeedRaw = Field.Long(o, key, "extended_configured_speed_raw"),
                ConfiguredSpeedMts = Field.Long(o, key, "configured_speed_mts"),
                Manufacturer = FirmwareString.From(Field.Get(o, "manufacturer"), key + ".manufacturer"),
                Vendor = Vendor.From(Field.Get(o, "vendor"), key + ".vendor"),
                SerialNumber = FirmwareString.From(Field.Get(o, "serial_number"), key + ".serial_number"),
                AssetTag = FirmwareString.From(Field.Get(o, "asset_tag"), key + ".asset_tag"),
                PartNumber = FirmwareString.From(Field.Get(o, "part_number"), key + ".part_number"),
                AttributesRaw = Field.Int(o, key, "attributes_raw"),
                Rank = Field.Int(o, key, "rank"),
                MinimumVoltageMv = Field.Int(o, key, "minimum_voltage_mv"),
                MaximumVoltageMv = Field.Int(o, key, "maximum_voltage_mv"),
                ConfiguredVoltageMv = Field.Int(o, key, "configured_voltage_mv"),
                MemoryTechnology = Coded.From(Field.Get(o, "memory_technology"), key + ".memory_technology"),
                OperatingModeCapability = Flags.From(Field.Get(o, "operating_mode_capability"), key + ".operating_mode_capability"),
                FirmwareVersion = FirmwareString.From(Field.Get(o, "firmware_version"), key + ".firmware_version"),
                ModuleManufacturerId = Field.Int(o, key, "module_manufacturer_id"),
                ModuleManufacturer = Vendor.From(Field.Get(o, "module_manufacturer"), key + ".module_manufacturer"),
                ModuleProductId = Field.Int(o, key, "module_product_id"),
                SubsystemControllerManufacturerId = Field.Int(o, key, "subsystem_controller_manufacturer_id"),
                SubsystemControllerProductId = Field.Int(o, key, "subsystem_controller_product_id"),
                NonVolatileSizeBytes = Field.ULong(o, key, "non_volatile_size_bytes"),
                VolatileSizeBytes = Field.ULong(o, key, "volatile_size_bytes"),
                CacheSizeBytes = Field.ULong(o, key, "cache_size_bytes"),
                LogicalSizeBytes = Field.ULong(o, key, "logical_size_bytes"),
                Pmic0ManufacturerId = Field.Int(o, key, "pmic0_manufacturer_id"),
                Pmic0RevisionNumber = Field.Int(o, key, "pmic0_revision_number"),
                RcdManufacturerId = Field.Int(o, key, "rcd_manufacturer_id"),
                RcdRevisionNumber = Field.Int(o, key, "rcd_revision_number"),
                Errors = ModuleErrors.From(Field.Get(o, "errors"), key + ".errors"),
                Position = Position.From(Field.Get(o, "position"), key + ".position"),
            };
        }
    }

    /// <summary>Where a module sits, as its locators or its type 20 interleave
    /// tell it; the numbers are the firmware's own, each null when not told.</summary>
    public sealed class Position
    {
        public int? Socket { get; private set; }
        public int? Controller { get; private set; }
        public string Channel { get; private set; }
        public int? Slot { get; private set; }
        public string Source { get; private set; }

        internal static Position From(object value, string key)
        {
            Dictionary<string, object> o = Field.Object(value, key);
            if (o == null) return null;
            return new Position {
                Socket = Field.Int(o, key, "socket"),
                Controller = Field.Int(o, key, "controller"),
                Channel = Field.Str(o, key, "channel"),
                Slot = Field.Int(o, key, "slot"),
                Source = Field.Str(o, key, "source"),
            };
        }
    }

    /// <summary>A Memory Array Mapped Address (type 19) or Memory Device
    /// Mapped Address (type 20); the other type's fields are null.</summary>
    public sealed class MappedAddress
    {
        public int Type { get; private set; }
        public int Handle { get; private set; }
        public int Length { get; private set; }
        public long? StartingAddressRaw { get; private set; }
        public long? EndingAddressRaw { get; private set; }
        public ulong? ExtendedStartingAddress { get; private set; }
        public ulong? ExtendedEndingAddress { get; private set; }
        public ulong? StartingAddressBytes { get; private set; }
        public ulong? EndingAddressBytes { get; private set; }
        public int? ArrayHandle { get; private set; }
        public int? PartitionWidth { get; private set; }
        public int? DeviceHandle { get; private set; }
        public int? ArrayMappedAddressHandle { get; private set; }
        public int? PartitionRowPosition { get; private set; }
        public int? InterleavePosition { get; private set; }
        public int? InterleavedDataDepth { get; private set; }

        internal static MappedAddress From(object value, string key)
        {
            Dictionary<string, object> o = Field.Object(value, key);
            return new MappedAddress {
                Type = Field.Need(Field.Int(o, key, "type"), key + ".type"),
                Handle = Field.Need(Field.Int(o, key, "handle"), key + ".handle"),
                Length = Field.Need(Field.Int(o, key, "length"), key + ".length"),
                StartingAddressRaw = Field.Long(o, key, "starting_address_raw"),
                EndingAddressRaw = Field.Long(o, key, "ending_address_raw"),
                ExtendedStartingAddress = Field.ULong(o, key, "extended_starting_address"),
                ExtendedEndingAddress = Field.ULong(o, key, "extended_ending_address"),
                StartingAddressBytes = Field.ULong(o, key, "starting_address_bytes"),
                EndingAddressBytes = Field.ULong(o, key, "ending_address_bytes"),
                ArrayHandle = Field.Int(o, key, "array_handle"),
                PartitionWidth = Field.Int(o, key, "partition_width"),
                DeviceHandle = Field.Int(o, key, "device_handle"),
                ArrayMappedAddressHandle = Field.Int(o, key, "array_mapped_address_handle"),
                PartitionRowPosition = Field.Int(o, key, "partition_row_position"),
                InterleavePosition = Field.Int(o, key, "interleave_position"),
                InterleavedDataDepth = Field.Int(o, key, "interleaved_data_depth"),
            };
        }
    }

    /// <summary>How the system memory is set up; the channel counts are null
    /// unless the table tells every slot's channel.</summary>
    public sealed class DetailConfiguration
    {
        public int? ChannelsTotal { get; private set; }
        public int? ChannelsPopulated { get; private set; }
        public int FreeSlots { get; private set; }
        public ulong InstalledBytes { get; private set; }
        public ulong? MaximumCapacityBytes { get; private set; }
        public bool? Ecc { get; private set; }

        internal static DetailConfiguration From(object value, string key)
        {
            Dictionary<string, object> o = Field.Object(value, key);
            if (o == null) return null;
            return new DetailConfiguration {
                ChannelsTotal = Field.Int(o, key, "channels_total"),
                ChannelsPopulated = Field.Int(o, key, "channels_populated"),
                FreeSlots = Field.Need(Field.Int(o, key, "free_slots"), key + ".free_slots"),
                InstalledBytes = Field.Need(Field.ULong(o, key, "installed_bytes"), key + ".installed_bytes"),
                MaximumCapacityBytes = Field.ULong(o, key, "maximum_capacity_bytes"),
                Ecc = Field.Bool(o, key, "ecc"),
            };
        }
    }

    /// <summary>A finding about how the memory is set up: its code, "info" or
    /// "warning", a message for people and the indexes of the devices concerned.</summary>
    public sealed class Finding
    {
        public string Code { get; private set; }
        public string Severity { get; private set; }
        public string Message { get; private set; }
        public IReadOnlyList<int> Devices { get; private set; }

        internal static Finding From(object value, string key)
        {
            Dictionary<string, object> o = Field.Object(value, key);
            var devices = new List<int>();
            var list = Field.Get(o, "devices") as List<object>;
            if (list == null) throw new FormatException("raminfo-detail: " + key + ".devices: an array expected");
            foreach (object item in list) {
                if (!(item is long)) throw new FormatException("raminfo-detail: " + key + ".devices: an array of integers expected");
                devices.Add(checked((int)(long)item));
            }
            return new Finding {
                Code = Field.Str(o, key, "code"),
                Severity = Field.Str(o, key, "severity"),
                Message = Field.Str(o, key, "message"),
                Devices = new ReadOnlyCollection<int>(devices),
            };
        }
    }

    /// <summary>The "raminfo-detail/1" document: what `raminfo --detail`
    /// prints, as typed objects. Readable is false when the table could not
    /// be read (no arrays or devices then), and Reason says why, for people;
    /// it is null otherwise. MemoryErrors is null in documents
    /// written before error counts existed. Keys this class does not know
    /// (a later release may add some within raminfo-detail/1) are left out;
    /// Json keeps the whole text.</summary>
    public sealed class Detail
    {
        public const string SchemaName = "raminfo-detail/1";

        public string Schema { get; private set; }
        public bool Readable { get; private set; }
        public string Reason { get; private set; }
        public DetailTotals Totals { get; private set; }
        public IReadOnlyList<MemoryArray> Arrays { get; private set; }
        public IReadOnlyList<MemoryDevice> Devices { get; private set; }
        public MemoryErrors MemoryErrors { get; private set; }
        /// <summary>Null in documents written before the configuration,
        /// mapped addresses and findings existed.</summary>
        public DetailConfiguration Configuration { get; private set; }
        public IReadOnlyList<MappedAddress> MappedAddresses { get; private set; }
        public IReadOnlyList<Finding> Findings { get; private set; }
        /// <summary>The document's text, as the library or raminfo wrote it.</summary>
        public string Json { get; private set; }

        /// <summary>A Detail from a "raminfo-detail/1" document (the
        /// library's text, or what raminfo --detail printed or saved).
        /// Throws FormatException for another schema version, text that is
        /// not JSON, or a value of the wrong type.</summary>
        public static Detail Parse(string json)
        {
            const string key = "";
            var o = new Report(json).Document() as Dictionary<string, object>;
            if (o == null) throw new FormatException("raminfo-detail: the document is not an object");
            string schema = Field.Str(o, key, "schema");
            if (schema != SchemaName)
                throw new FormatException("raminfo-detail: not a " + SchemaName + " document (schema " + (schema ?? "null") + ")");
            return new Detail {
                Schema = schema,
                Readable = Field.Need(Field.Bool(o, key, "readable"), "readable"),
                Reason = Field.Str(o, key, "reason"),
                Totals = DetailTotals.From(Field.Get(o, "totals"), "totals"),
                Arrays = Field.Items(o, "arrays", "", MemoryArray.From),
                Devices = Field.Items(o, "devices", "", MemoryDevice.From),
                MemoryErrors = MemoryErrors.From(Field.Get(o, "memory_errors"), "memory_errors"),
                Configuration = DetailConfiguration.From(Field.Get(o, "configuration"), "configuration"),
                MappedAddresses = Field.Get(o, "mapped_addresses") == null ? null
                    : Field.Items(o, "mapped_addresses", "", MappedAddress.From),
                Findings = Field.Get(o, "findings") == null ? null : Field.Items(o, "findings", "", Finding.From),
                Json = json,
            };
        }
    }

    /// <summary>The typed reads of the detail document's values: null for a
    /// key that is absent or null, FormatException for a value of another
    /// type, naming its place.</summary>
    static class Field
    {
        static FormatException Wrong(string key, string what)
        {
            return new FormatException("raminfo-detail: " + key + ": " + what + " expected");
        }

        internal static object Get(Dictionary<string, object> o, string key)
        {
            object v;
            return o.TryGetValue(key, out v) ? v : null;
        }

        internal static T Need<T>(T? value, string key) where T : struct
        {
            if (!value.HasValue) throw new FormatException("raminfo-detail: " + key + " is missing");
            return value.Value;
        }

        internal static Dictionary<string, object> Object(object value, string key)
        {
            if (value == null) return null;
            var o = value as Dictionary<string, object>;
            if (o == null) throw Wrong(key, "an object");
            return o;
        }

        // Each read takes the place of the object (WHERE, "" for the
        // document) and the key in it.
        internal static long? Long(Dictionary<string, object> o, string where, string key)
        {
            object v = Get(o, key);
            if (v == null) return null;
            if (!(v is long)) throw Wrong(Place(where, key), "a 64-bit integer");
            return (long)v;
        }

        internal static int? Int(Dictionary<string, object> o, string where, string key)
        {
            long? v = Long(o, where, key);
            if (v.HasValue && (v.Value < int.MinValue || v.Value > int.MaxValue)) throw Wrong(Place(where, key), "a 32-bit integer");
            return v.HasValue ? (int?)(int)v.Value : null;
        }

        internal static ulong? ULong(Dictionary<string, object> o, string where, string key)
        {
            object v = Get(o, key);
            if (v == null) return null;
            if (v is ulong) return (ulong)v;
            if (v is long && (long)v >= 0) return (ulong)(long)v;
            throw Wrong(Place(where, key), "an unsigned 64-bit integer");
        }

        internal static bool? Bool(Dictionary<string, object> o, string where, string key)
        {
            object v = Get(o, key);
            if (v == null) return null;
            if (!(v is bool)) throw Wrong(Place(where, key), "true or false");
            return (bool)v;
        }

        internal static string Str(Dictionary<string, object> o, string where, string key)
        {
            object v = Get(o, key);
            if (v == null) return null;
            var text = v as string;
            if (text == null) throw Wrong(Place(where, key), "a string");
            return text;
        }

        static List<object> List(Dictionary<string, object> o, string key, string where)
        {
            object v = Get(o, key);
            if (v == null) return new List<object>();
            var list = v as List<object>;
            if (list == null) throw Wrong(Place(where, key), "an array");
            return list;
        }

        internal static string Place(string where, string key)
        {
            return where.Length == 0 ? key : where + "." + key;
        }

        internal static IReadOnlyList<string> Strings(Dictionary<string, object> o, string key, string where)
        {
            var names = new List<string>();
            foreach (object item in List(o, key, where)) {
                var text = item as string;
                if (text == null) throw Wrong(Place(where, key), "an array of strings");
                names.Add(text);
            }
            return new ReadOnlyCollection<string>(names);
        }

        internal static IReadOnlyList<T> Items<T>(Dictionary<string, object> o, string key, string where,
                                                  Func<object, string, T> make) where T : class
        {
            var items = new List<T>();
            List<object> list = List(o, key, where);
            for (int n = 0; n < list.Count; n++) {
                string place = Place(where, key) + "[" + n.ToString(CultureInfo.InvariantCulture) + "]";
                if (!(list[n] is Dictionary<string, object>)) throw Wrong(place, "an object");
                items.Add(make(list[n], place));
            }
            return new ReadOnlyCollection<T>(items);
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

        // A long, or a ulong for the 64-bit unsigned figures of the detail
        // document above long's range.
        object Integer()
        {
            int start = i;
            if (s[i] == '-') i++;
            while (i < s.Length && s[i] >= '0' && s[i] <= '9') i++;
            string digits = s.Substring(start, i - start);
            long v;
            if (long.TryParse(digits, NumberStyles.AllowLeadingSign, CultureInfo.InvariantCulture, out v))
                return v;
            ulong u;
            if (ulong.TryParse(digits, NumberStyles.None, CultureInfo.InvariantCulture, out u))
                return u;
            throw Bad("integer expected");
        }
    }
}
