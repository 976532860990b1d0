using System;
using System.Collections;
using System.Collections.Generic;
using System.Management.Automation;

namespace Ferrule {
    // The names that a row gives its machine, each null where it gives none.
    // Two rows' machines are equal when each name is, case aside: rows of one
    // machine share its route, found once, without a key joined from texts.
    public sealed class RowMachine {
        public string MachineId { get; set; }
        public string MachineName { get; set; }
        public string SystemName { get; set; }
        public string PSComputerName { get; set; }
        public string ComputerName { get; set; }

        public bool Named {
            get {
                return MachineId != null || MachineName != null || SystemName != null || PSComputerName != null ||
                       ComputerName != null;
            }
        }

        string[] Names() { return new string[] {MachineId, MachineName, SystemName, PSComputerName, ComputerName}; }

        public override bool Equals(object other) {
            RowMachine that = other as RowMachine;
            if (that == null) return false;
            string[] mine = Names(), theirs = that.Names();
            for (int i = 0; i < mine.Length; i++)
                if (!string.Equals(mine[i], theirs[i], StringComparison.OrdinalIgnoreCase)) return false;
            return true;
        }

        public override int GetHashCode() {
            int hash = 17;
            foreach (string name in Names())
                hash = hash * 31 + (name == null ? 0 : StringComparer.OrdinalIgnoreCase.GetHashCode(name));
            return hash;
        }
    }

    // What one row asks for: the path or paths it names, the state wanted,
    // and the machine it is of; or, where it cannot be read, Problem (the ID
    // of the module's message that says why) and the values that it names.
    // Left: a Compare row that asks for nothing (Equal, New).
    public class Row {
        public string Class { get; set; }
        public string ComponentID { get; set; }
        public string Path { get; set; }
        public string Name { get; set; }
        public bool Enabled { get; set; }
        public bool Optional { get; set; }
        // PSComputerName, '' where none: the name a -PassThru object keeps.
        public string Computer { get; set; }
        public RowMachine Machine { get; set; }
        // It names exactly one path: its ComponentID and Path, as they are.
        public bool Literal { get; set; }
        public bool Left { get; set; }
        public object Source { get; set; }
        public string Problem { get; set; }
        public object[] ProblemValues { get; set; }
    }

    // A property that rows may have: read, or known and ignored. Means: the
    // property it is another name of (InterfaceAlias is Name), else its own.
    public sealed class RowProperty {
        public RowProperty(string name, bool read, string means) {
            Name = name; Read = read; Means = means ?? name;
        }
        public string Name { get; private set; }
        public bool Read { get; private set; }
        public string Means { get; private set; }
    }

    // The row reader, in one loop over every row: a baseline may have a row
    // for every path of a fleet's machines, and a function call a row in
    // PowerShell costs hundreds of microseconds. A row is an object or any
    // dictionary (its keys, and its note properties), whatever its comparer:
    // names match case aside, and only the names of Properties. An empty
    // value (Import-Csv gives '') is a selector not given. Values are read
    // as PowerShell reads them: text as [string] makes it, a class by its
    // name or ferrule's word for it, a state as a [bool] or the text True or
    // False, case aside.
    public static class RowReader {
        // Get's objects and -PassThru's (and the adapter's names that they
        // are to carry), what remoting and jobs add, Compare's objects, a
        // rule's Optional, and Get-NetAdapterBinding's objects with the
        // NetAdapter type data's aliases and what CIM adds.
        public static readonly RowProperty[] Properties = {
            new RowProperty("Class", true, null), new RowProperty("ComponentID", true, null),
            new RowProperty("DisplayName", false, null), new RowProperty("Path", true, null),
            new RowProperty("Enabled", true, null), new RowProperty("Name", true, null),
            new RowProperty("RebootRequired", false, null), new RowProperty("SideEffect", false, null),
            new RowProperty("MachineId", true, null), new RowProperty("MachineName", true, null),
            new RowProperty("InterfaceAlias", true, "Name"), new RowProperty("InterfaceDescription", false, null),
            new RowProperty("InterfaceGuid", false, null), new RowProperty("PSComputerName", true, null),
            new RowProperty("RunspaceId", false, null), new RowProperty("PSShowComputerName", false, null),
            new RowProperty("PSSourceJobInstanceId", false, null),
            new RowProperty("ComputerName", true, null), new RowProperty("Drift", true, null),
            new RowProperty("Wanted", true, null), new RowProperty("Found", false, null),
            new RowProperty("Optional", true, null), new RowProperty("Caption", false, null),
            new RowProperty("Description", false, "InterfaceDescription"), new RowProperty("ElementName", false, null),
            new RowProperty("InstanceID", false, null), new RowProperty("Source", false, null),
            new RowProperty("SystemName", true, null), new RowProperty("BindName", false, null),
            new RowProperty("ComponentClassName", false, null), new RowProperty("ComponentClassGuid", false, null),
            new RowProperty("Characteristics", false, null), new RowProperty("ifAlias", true, "Name"),
            new RowProperty("ifDesc", false, "InterfaceDescription"), new RowProperty("CimClass", false, null),
            new RowProperty("CimInstanceProperties", false, null), new RowProperty("CimSystemProperties", false, null)};

        static readonly Dictionary<string, int> Index = IndexOf(Properties);

        static Dictionary<string, int> IndexOf(RowProperty[] properties) {
            Dictionary<string, int> index = new Dictionary<string, int>(StringComparer.OrdinalIgnoreCase);
            for (int i = 0; i < properties.Length; i++) index[properties[i].Name] = i;
            return index;
        }

        // The module's own objects, as they come back from a file, a session
        // or Select-Object: their names are ferrule's, whatever they hold.
        static readonly string[] OwnTypes = {"Ferrule.Binding", "Ferrule.BindingDrift"};
        static readonly string[] CopyPrefixes = {"Deserialized.", "Selected.", "CSV:"};

        // State: the state wanted (Disable and Enable), or null for each
        // row's Enabled. ClassWords: the module's class names and ferrule's
        // words for them.
        public static Row[] Read(object[] items, object state, IDictionary classWords) {
            Row[] result = new Row[items.Length];
            for (int i = 0; i < items.Length; i++) result[i] = ReadOne(items[i], state, classWords);
            return result;
        }

        // The bind name of an adapter of Get-NetAdapter (its InterfaceGuid),
        // known by its CIM class, never by its ComponentID (a hardware ID);
        // null for anything else. An adapter is no row: it names itself.
        public static string AdapterOf(object item) {
            Given given = Gather(item);
            if (!given.Adapter) return null;
            return given.Text("InterfaceGuid") ?? "";
        }

        // What one row gives: each property's value by its place in
        // Properties, and whether it is there at all.
        sealed class Given {
            public object[] Values = new object[Properties.Length];
            public string[] Spelt = new string[Properties.Length];
            public bool Own;
            public bool Adapter;
            // The first property that cannot be read: unknown, or given twice.
            public string Problem;
            public object[] ProblemValues;

            public bool Has(string name) { return Spelt[Index[name]] != null; }
            public object Value(string name) { return Values[Index[name]]; }
            // The text given, or null where it is empty or not there.
            public string Text(string name) {
                string text = RowReader.Text(Values[Index[name]]);
                return text.Length > 0 ? text : null;
            }
        }

        static Row ReadOne(object item, object state, IDictionary classWords) {
            Row row = new Row();
            row.Source = item;
            row.Computer = "";
            row.Machine = new RowMachine();
            Given given = Gather(item);
            // An adapter of Get-NetAdapter has properties of its own: what it is comes first.
            if (given.Adapter) Refuse(row, "RowIsAdapter", Text(given.Value("Name")));
            if (given.Problem != null) Refuse(row, given.Problem, given.ProblemValues);
            string name = Agreed(row, given, "Name", "InterfaceAlias", "ifAlias");
            Agreed(row, given, "InterfaceDescription", "Description", "ifDesc");
            string drift = given.Text("Drift");
            if (drift != null) ReadDrift(row, drift);
            string className = null;
            string component = given.Text("ComponentID"), path = given.Text("Path");
            if (given.Text("Class") != null) {
                className = ClassOf(given.Text("Class"), classWords);
                if (className == null) Refuse(row, "RowClassUnknown", given.Value("Class"));
            } else if (name != null && component != null && given.Has("Enabled")) {
                // Get-NetAdapterBinding's shape: Name is the connection name, ComponentID the bound component.
                className = "Adapter";
            } else {
                Refuse(row, "RowClassMissing");
            }
            object fromRow = drift != null ? given.Value("Wanted") : given.Value("Enabled");
            object wanted = state == null ? State(fromRow) : State(state);
            bool optional = false;
            if (given.Text("Optional") != null) {
                object read = State(given.Value("Optional"));
                if (read == null) Refuse(row, "RowOptionalUnreadable", given.Value("Optional"));
                else optional = (bool)read;
            }
            if (wanted == null && !row.Left) Refuse(row, "RowEnabledUnreadable", fromRow);
            bool literal = component != null && path != null &&
                           (given.Own || (!HasWildcard(component) && !HasWildcard(path)));
            if (component == null && path == null) Refuse(row, "RowNamesNoPath");
            if (!literal && name != null && className != "Adapter") Refuse(row, "RowNameNotAdapter", className);
            if (literal && className == "Adapter") component = AdapterComponent(row, component, path);
            row.Class = className;
            row.ComponentID = component;
            row.Path = path;
            row.Name = name;
            row.Enabled = wanted != null && (bool)wanted;
            row.Optional = optional;
            row.Literal = literal;
            ReadMachine(row, given);
            return row;
        }

        // An adapter row's component: the path's first element, as the
        // module's objects give it; or the path's last, the adapter, as they
        // gave it before (rows saved then are read as they always were);
        // anything else names no path and is refused.
        static string AdapterComponent(Row row, string component, string path) {
            string first = Binding.First(path);
            if (string.Equals(component, first, StringComparison.OrdinalIgnoreCase)) return component;
            if (string.Equals(component, Binding.Last(path), StringComparison.OrdinalIgnoreCase)) return first;
            Refuse(row, "RowComponentNotInPath", component, path);
            return component;
        }

        // A Compare row: Changed is its path, wanted as Wanted says; Equal and
        // New ask for nothing; Missing and Unmatched name no path to change.
        static void ReadDrift(Row row, string drift) {
            if (string.Equals(drift, "Changed", StringComparison.OrdinalIgnoreCase)) return;
            if (string.Equals(drift, "Equal", StringComparison.OrdinalIgnoreCase) ||
                string.Equals(drift, "New", StringComparison.OrdinalIgnoreCase)) {
                row.Left = true;
                return;
            }
            if (string.Equals(drift, "Missing", StringComparison.OrdinalIgnoreCase)) Refuse(row, "RowDriftMissing");
            else if (string.Equals(drift, "Unmatched", StringComparison.OrdinalIgnoreCase))
                Refuse(row, "RowDriftUnmatched");
            else Refuse(row, "RowDriftUnknown", drift);
        }

        static void ReadMachine(Row row, Given given) {
            RowMachine machine = row.Machine;
            machine.MachineId = given.Text("MachineId");
            machine.MachineName = given.Text("MachineName");
            machine.SystemName = given.Text("SystemName");
            machine.PSComputerName = given.Text("PSComputerName");
            machine.ComputerName = given.Text("ComputerName");
            row.Computer = machine.PSComputerName ?? "";
        }

        // The one value that the names of one thing give; a row whose names
        // of it disagree is refused.
        static string Agreed(Row row, Given given, params string[] names) {
            string value = null, from = null;
            foreach (string name in names) {
                string text = given.Text(name);
                if (text == null) continue;
                if (value != null && !string.Equals(value, text, StringComparison.Ordinal)) {
                    Refuse(row, "RowNamesDisagree", from, value, name, text);
                    return null;
                }
                value = text;
                from = name;
            }
            return value;
        }

        // The first reason a row cannot be read is the one said.
        static void Refuse(Row row, string problem, params object[] values) {
            if (row.Problem != null) return;
            row.Problem = problem;
            row.ProblemValues = values;
        }

        static Given Gather(object item) {
            Given given = new Given();
            if (item == null) return given;
            PSObject wrapped = PSObject.AsPSObject(item);
            object inner = wrapped.BaseObject;
            if (inner is string || inner.GetType().IsPrimitive) return given;
            foreach (string type in wrapped.TypeNames) {
                string bare = Bare(type);
                foreach (string own in OwnTypes)
                    if (string.Equals(bare, own, StringComparison.OrdinalIgnoreCase)) given.Own = true;
                if (IsAdapterClass(type, '/') || IsAdapterClass(type, '#')) given.Adapter = true;
            }
            Binding binding = inner as Binding;
            if (binding != null) return GatherBinding(given, wrapped, binding);
            IDictionary dictionary = inner as IDictionary;
            if (dictionary != null) {
                foreach (DictionaryEntry entry in dictionary) {
                    string key;
                    if (TryText(given, entry.Key, "key", out key)) Take(given, key, entry.Value);
                }
            }
            foreach (PSPropertyInfo property in wrapped.Properties) {
                // A dictionary's own .NET properties (Count, Keys) are not its row's.
                if (dictionary != null && property.MemberType == PSMemberTypes.Property) continue;
                TakeProperty(given, property);
            }
            for (int i = 0; i < given.Values.Length; i++) {
                string ignored;
                if (given.Values[i] != null && !TryText(given, given.Values[i], given.Spelt[i], out ignored))
                    given.Values[i] = null;
            }
            if (given.Has("MachineId")) given.Own = true;
            string cimClass = Text(given.Value("CimClass"));
            if (IsAdapterClass(cimClass, ':') || IsAdapterClass(cimClass, '/')) given.Adapter = true;
            return given;
        }

        // The module's own object, as Get gave it: its properties read as
        // themselves, and what was added to it (PSComputerName, or a column of
        // an admin's) from its extended members alone, since a listing's
        // tens of thousands of objects make every member looked up count.
        static Given GatherBinding(Given given, PSObject wrapped, Binding binding) {
            Take(given, "Class", binding.Class);
            Take(given, "ComponentID", binding.ComponentID);
            Take(given, "DisplayName", binding.DisplayName);
            Take(given, "Path", binding.Path);
            Take(given, "Enabled", binding.Enabled);
            Take(given, "Name", binding.Name);
            Take(given, "InterfaceDescription", binding.InterfaceDescription);
            Take(given, "InterfaceGuid", binding.InterfaceGuid);
            Take(given, "RebootRequired", binding.RebootRequired);
            Take(given, "SideEffect", binding.SideEffect);
            Take(given, "MachineId", binding.MachineId);
            Take(given, "MachineName", binding.MachineName);
            PSMemberSet extended = wrapped.Members["psextended"] as PSMemberSet;
            if (extended != null) {
                foreach (PSPropertyInfo property in extended.Properties) TakeProperty(given, property);
            }
            given.Own = true;
            return given;
        }

        // A property whose value cannot be read is there, without a value.
        static void TakeProperty(Given given, PSPropertyInfo property) {
            object value;
            try {
                value = property.Value;
            } catch (GetValueException) {
                value = null;
            }
            Take(given, property.Name, value);
        }

        static void Take(Given given, string name, object value) {
            int place;
            if (!Index.TryGetValue(name, out place)) {
                if (given.Problem == null) {
                    given.Problem = "RowPropertyUnknown";
                    given.ProblemValues = new object[] {name, Nearest(name)};
                }
                return;
            }
            if (given.Spelt[place] != null) {
                if (given.Problem == null) {
                    given.Problem = "RowPropertyTwice";
                    given.ProblemValues = new object[] {given.Spelt[place], name};
                }
                return;
            }
            given.Spelt[place] = name;
            given.Values[place] = value;
        }

        // A type name without the prefixes of a copy (Deserialized., Selected., CSV:).
        static string Bare(string type) {
            bool found = true;
            while (found) {
                found = false;
                foreach (string prefix in CopyPrefixes) {
                    if (!type.StartsWith(prefix, StringComparison.OrdinalIgnoreCase)) continue;
                    type = type.Substring(prefix.Length);
                    found = true;
                }
            }
            return type;
        }

        // Whether a class's or type's name ends in MSFT_NetAdapter after the separator given.
        static bool IsAdapterClass(string name, char separator) {
            return name.EndsWith(separator + "MSFT_NetAdapter", StringComparison.OrdinalIgnoreCase);
        }

        // Only * and ? are wildcards: brackets are parts of names.
        public static bool HasWildcard(string text) { return text != null && text.IndexOfAny(new[] {'*', '?'}) >= 0; }

        // The known property nearest a name, case aside (an edit is a letter
        // added, dropped, changed, or two swapped), the first of equals.
        public static string Nearest(string name) {
            string best = null;
            int least = int.MaxValue;
            foreach (RowProperty property in Properties) {
                int distance = Distance(name.ToLowerInvariant(), property.Name.ToLowerInvariant());
                if (distance >= least) continue;
                least = distance;
                best = property.Name;
            }
            return best;
        }

        static int Distance(string a, string b) {
            int[,] d = new int[a.Length + 1, b.Length + 1];
            for (int i = 0; i <= a.Length; i++) d[i, 0] = i;
            for (int j = 0; j <= b.Length; j++) d[0, j] = j;
            for (int i = 1; i <= a.Length; i++) {
                for (int j = 1; j <= b.Length; j++) {
                    int cost = a[i - 1] == b[j - 1] ? 0 : 1;
                    d[i, j] = Math.Min(Math.Min(d[i - 1, j] + 1, d[i, j - 1] + 1), d[i - 1, j - 1] + cost);
                    if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                        d[i, j] = Math.Min(d[i, j], d[i - 2, j - 2] + 1);
                }
            }
            return d[a.Length, b.Length];
        }

        // A value as text, where it can be made text: one whose ToString
        // throws (anything a script can make, so any exception) refuses its
        // row, naming the property (Name), and stands for no value.
        static bool TryText(Given given, object value, string name, out string text) {
            try {
                text = Text(value);
                return true;
            } catch (Exception error) {
                text = null;
                if (given.Problem == null) {
                    given.Problem = "RowValueUnreadable";
                    given.ProblemValues = new object[] {name, error.Message};
                }
                return false;
            }
        }

        // As [string] gives it: '' for null.
        static string Text(object value) {
            if (value == null) return "";
            string plain = value as string;
            if (plain != null) return plain;
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
