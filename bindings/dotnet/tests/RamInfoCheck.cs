// Says what the C# binding reports, as one JSON object on stdout, for
// test_raminfo_cs.py to compare with the raminfo tool. Module properties are
// written under the report's keys, null when the binding has null; text is
// written as ASCII with \u escapes, so nothing is lost on the way.
using System;
using System.Collections.Generic;
using System.Globalization;
using System.Text;
using Tarnwick;

static class RamInfoCheck
{
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

    static string Num(int? n)
    {
        return n.HasValue ? n.Value.ToString(CultureInfo.InvariantCulture) : "null";
    }

    static string Inv(Inventory inv)
    {
        if (inv == null) return "null";
        var slots = new List<string>();
        foreach (MemoryModule m in inv.Modules) {
            slots.Add("{\"slot\":" + Str(m.Slot) + ",\"size_mb\":" + Num(m.SizeMb) +
                      ",\"type\":" + Str(m.Type) + ",\"speed_mts\":" + Num(m.SpeedMts) +
                      ",\"configured_speed_mts\":" + Num(m.ConfiguredSpeedMts) +
                      ",\"manufacturer\":" + Str(m.Manufacturer) + ",\"part_number\":" + Str(m.PartNumber) +
                      ",\"serial\":" + Str(m.Serial) + ",\"voltage_mv\":" + Num(m.VoltageMv) +
                      ",\"form_factor\":" + Str(m.FormFactor) +
                      ",\"populated\":" + (m.IsPopulated ? "true" : "false") + "}");
        }
        return "{\"total_mb\":" + Num(inv.TotalMb) + ",\"slot_count\":" + Num(inv.SlotCount) +
               ",\"slots\":[" + string.Join(",", slots) + "]}";
    }

    static int Main()
    {
        var fields = new List<string>();
        fields.Add("\"version\":" + Str(RamInfo.Version()));
        try {
            fields.Add("\"inventory\":" + Inv(RamInfo.GetInventory()));
        } catch (RamInfoException e) {
            fields.Add("\"error\":" + Str(e.Message) + ",\"error_inventory\":" + Inv(e.Inventory));
        }
        fields.Add("\"last_error\":" + Str(RamInfo.LastError()));
        try {
            fields.Add("\"slot_count\":" + Num(RamInfo.SlotCount()));
        } catch (RamInfoException e) {
            fields.Add("\"slot_count_error\":" + Str(e.Message));
        }
        fields.Add("\"total_mb\":" + Num(RamInfo.TotalMb()));
        Console.Out.Write("{" + string.Join(",", fields) + "}\n");
        return 0;
    }
}
