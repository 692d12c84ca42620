// Reads the platform invoke declarations of an assembly by reflection and
// checks them as a 32-bit Windows process needs them: every one declares
// CallingConvention.Cdecl (the DLLs' convention; .NET's default on x86 is
// StdCall, and the mismatch corrupts the stack), names the library that has
// its export ("tarnwick-smbios-ram-info" for the five core exports,
// "tarnwick-smbios-ram-info-detail" for the three detail ones), and together
// they bind the eight exports, each once. Prints one line per declaration and per fault; exits 1 on a
// fault.
//
//   mono DeclarationsCheck.exe ASSEMBLY
using System;
using System.Collections.Generic;
using System.Reflection;
using System.Runtime.InteropServices;

static class DeclarationsCheck
{
    static int Main(string[] args)
    {
        var libraries = new Dictionary<string, string>();
        foreach (string export in new[] { "raminfo_get_json", "raminfo_last_error", "raminfo_slot_count",
                                          "raminfo_total_mb", "raminfo_version" })
            libraries[export] = "tarnwick-smbios-ram-info";
        foreach (string export in new[] { "raminfo_detail_json", "raminfo_detail_json_from", "raminfo_detail_version" })
            libraries[export] = "tarnwick-smbios-ram-info-detail";
        var exports = new List<string>(libraries.Keys);
        int faults = 0;
        var seen = new List<string>();
        const BindingFlags all = BindingFlags.Public | BindingFlags.NonPublic | BindingFlags.Static |
                                 BindingFlags.Instance | BindingFlags.DeclaredOnly;
        foreach (Type type in Assembly.LoadFrom(args[0]).GetTypes()) {
            foreach (MethodInfo method in type.GetMethods(all)) {
                if ((method.Attributes & MethodAttributes.PinvokeImpl) == 0) continue;
                string where = type.FullName + "." + method.Name;
                object[] found = method.GetCustomAttributes(typeof(DllImportAttribute), false);
                if (found.Length != 1) {
                    Console.WriteLine("FAIL: " + where + ": no DllImport attribute to read");
                    faults++;
                    continue;
                }
                var import = (DllImportAttribute)found[0];
                string entry = import.EntryPoint ?? method.Name;
                seen.Add(entry);
                Console.WriteLine("{0}: {1} -> {2}!{3}, {4}", import.CallingConvention == CallingConvention.Cdecl ? "ok  " : "FAIL",
                                  where, import.Value, entry, import.CallingConvention);
                if (import.CallingConvention != CallingConvention.Cdecl) {
                    Console.WriteLine("FAIL: " + where + ": CallingConvention." + import.CallingConvention + ", not Cdecl");
                    faults++;
                }
                if (!exports.Contains(entry)) {
                    Console.WriteLine("FAIL: " + where + ": '" + entry + "' is not an export of either DLL");
                    faults++;
                } else if (import.Value != libraries[entry]) {
                    Console.WriteLine("FAIL: " + where + ": library '" + import.Value + "', not '" + libraries[entry] + "'");
                    faults++;
                }
            }
        }
        foreach (string export in exports) {
            int n = seen.FindAll(e => e == export).Count;
            if (n != 1) {
                Console.WriteLine("FAIL: " + export + " is declared " + n + " times, not once");
                faults++;
            }
        }
        return faults == 0 ? 0 : 1;
    }
}
