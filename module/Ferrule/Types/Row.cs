using System;
using System.Collections;
using System.Management.Automation;

namespace Ferrule {
    // What one row asks for: the path or paths it names, the state wanted,
    // and the machine it is of; or, where it cannot be read, Problem (the ID
    // of the module's message that says why) and the value that it names.
    public class Wanted {
        public string Class { get; set; }
        public string ComponentID { get; set; }
        public string Path { get; set; }
        public string Name { get; set; }
        public bool Enabled { get; set; }
        public bool Optional { get; set; }
        public string Computer { get; set; }
        public string MachineId { get; set; }
        public string MachineName { get; set; }
        // Both ComponentID and Path given, without a wildcard: the one path.
        public bool Literal { get; set; }
        public object Source { get; set; }
        public string Problem { get; set; }
        public object ProblemValue { get; set; }
    }

    // The row reader, in one loop over every row: a baseline may have a row
    // for every path of a fleet's machines, and a function call a row in
    // PowerShell costs hundreds of microseconds. A row is an object or a
    // dictionary with Class, ComponentID, Path, Name, Enabled, Optional, and
    // the machine it is of (PSComputerName, MachineId, MachineName); an
    // object of Get-NetAdapterBinding (known by its properties, so that its
    // deserialized form and its CSV export count too: Name or InterfaceAlias,
    // ComponentID and Enabled, with no Class) is an Adapter row of the
    // component bound to that connection. An empty value (Import-Csv gives
    // '') is a selector not given; DisplayName never selects. A row must give
    // a ComponentID or a Path, and a Class, unless it has the cmdlets' shape:
    // nothing is filled in for it. Values are read as PowerShell reads them:
    // text as [string] makes it, a class by its name or ferrule's word for
    // it, a state as a [bool] or the text True or False, case aside.
    public static class RowReader {
        const int Class = 0, ComponentID = 1, Path = 2, Name = 3, InterfaceAlias = 4, Enabled = 5, Optional = 6,
                  PSComputerName = 7, MachineId = 8, MachineName = 9;
        static readonly string[] Properties = {"Class", "ComponentID", "Path", "Name", "InterfaceAlias", "Enabled",
                                               "Optional", "PSComputerName", "MachineId", "MachineName"};

        // State: the state wanted (Disable and Enable), or null for each
        // row's Enabled. ClassWords: the module's class names and ferrule's
        // words for them.
        public static Wanted[] Read(object[] items, object state, IDictionary classWords) {
            Wanted[] result = new Wanted[items.Length];
            for (int i = 0; i < items.Length; i++) result[i] = ReadOne(items[i], state, classWords);
            return result;
        }

        static Wanted ReadOne(object item, object state, IDictionary classWords) {
            object[] values = new object[Properties.Length];
            bool[] present = new bool[Properties.Length];
            Fill(item, values, present);
            string[] given = new string[Properties.Length];
            for (int p = ComponentID; p < Properties.Length; p++) {
                if (p == Enabled || p == Optional) continue;
                string text = Text(values[p]);
                if (text.Length > 0) given[p] = text;
            }
            Wanted want = new Wanted();
            want.Source = item;
            string className = null;
            if (Text(values[Class]).Length > 0) {
                className = ClassOf(Text(values[Class]), classWords);
                if (className == null) Refuse(want, "RowClassUnknown", values[Class]);
            } else if ((given[Name] != null || given[InterfaceAlias] != null) && given[ComponentID] != null &&
                       present[Enabled]) {
                // Get-NetAdapterBinding's shape: Name is the connection name, ComponentID the bound component.
                className = "Adapter";
                if (given[Name] == null) given[Name] = given[InterfaceAlias];
            } else {
                Refuse(want, "RowClassMissing", null);
            }
            object wanted = state == null ? State(values[Enabled]) : State(state);
            bool optional = false;
            if (values[Optional] != null && Text(values[Optional]).Length > 0) {
                object read = State(values[Optional]);
                if (read == null) Refuse(want, "RowOptionalUnreadable", values[Optional]);
                else optional = (bool)read;
            }
            if (wanted == null) Refuse(want, "RowEnabledUnreadable", values[Enabled]);
            bool literal = given[ComponentID] != null && given[Path] != null &&
                           !WildcardPattern.ContainsWildcardCharacters(given[ComponentID]) &&
                           !WildcardPattern.ContainsWildcardCharacters(given[Path]);
            if (given[ComponentID] == null && given[Path] == null) Refuse(want, "RowNamesNoPath", null);
            if (!literal && given[Name] != null && className != "Adapter") Refuse(want, "RowNameNotAdapter", className);
            want.Class = className;
            want.ComponentID = given[ComponentID];
            want.Path = given[Path];
            want.Name = given[Name];
            want.Enabled = wanted != null && (bool)wanted;
            want.Optional = optional;
            want.Computer = given[PSComputerName] ?? "";
            want.MachineId = given[MachineId];
            want.MachineName = given[MachineName];
            want.Literal = literal;
            return want;
        }

        // The first reason a row cannot be read is the one said.
        static void Refuse(Wanted want, string problem, object value) {
            if (want.Problem != null) return;
            want.Problem = problem;
            want.ProblemValue = value;
        }

        static void Fill(object item, object[] values, bool[] present) {
            if (item == null) return;
            PSObject wrapped = item as PSObject;
            object inner = wrapped != null ? wrapped.BaseObject : item;
            IDictionary dictionary = inner as IDictionary;
            if (dictionary != null) {
                for (int p = 0; p < Properties.Length; p++) {
                    if (!dictionary.Contains(Properties[p])) continue;
                    present[p] = true;
                    values[p] = dictionary[Properties[p]];
                }
                return;
            }
            PSMemberInfoCollection<PSPropertyInfo> properties = PSObject.AsPSObject(item).Properties;
            for (int p = 0; p < Properties.Length; p++) {
                PSPropertyInfo property = properties[Properties[p]];
                if (property == null) continue;
                present[p] = true;
                values[p] = property.Value;
            }
        }

        // As [string] gives it: '' for null.
        static string Text(object value) {
            if (value == null) return "";
            string text = LanguagePrimitives.ConvertTo(value, typeof(string)) as string;
            return text ?? "";
        }

        // A [bool], or the text True or False; null for anything else.
        static object State(object value) {
            if (value is bool) return value;
            string text = Text(value);
            if (string.Equals(text, "True", StringComparison.OrdinalIgnoreCase)) return true;
            if (string.Equals(text, "False", StringComparison.OrdinalIgnoreCase)) return false;
            return null;
        }

        static string ClassOf(string value, IDictionary classWords) {
            foreach (DictionaryEntry entry in classWords) {
                if (string.Equals(value, (string)entry.Key, StringComparison.OrdinalIgnoreCase) ||
                    string.Equals(value, (string)entry.Value, StringComparison.OrdinalIgnoreCase))
                    return (string)entry.Key;
            }
            return null;
        }
    }
}
