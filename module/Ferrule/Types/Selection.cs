using System.Collections.Generic;
using System.Text.RegularExpressions;

namespace Ferrule {
    // A selection's first pass over a listing, which may have tens of
    // thousands of paths: the bindings that, for every test, match one of its
    // matchers (a field of the binding and a regular expression; a null one
    // matches every binding). The field First is the path's first component;
    // a field not known is empty.
    public static class Selection {
        public static Binding[] Select(Binding[] bindings, string[][] fields, Regex[][] patterns) {
            List<Binding> selected = new List<Binding>();
            foreach (Binding binding in bindings) {
                bool all = true;
                for (int test = 0; test < fields.Length && all; test++) {
                    bool any = false;
                    for (int m = 0; m < fields[test].Length && !any; m++)
                        any = patterns[test][m] == null || patterns[test][m].IsMatch(Field(binding, fields[test][m]));
                    all = any;
                }
                if (all) selected.Add(binding);
            }
            return selected.ToArray();
        }

        // Whether any of the texts matches.
        public static bool AnyMatch(string[] texts, Regex pattern) {
            foreach (string text in texts)
                if (pattern.IsMatch(text ?? "")) return true;
            return false;
        }

        // The bind names of the components whose listings hold the bindings
        // (on adapters the adapters'), each once.
        public static string[] Components(Binding[] bindings) {
            // (A Dictionary, not a HashSet: Windows PowerShell's Add-Type does
            // not reference System.Core.)
            List<string> names = new List<string>();
            Dictionary<string, bool> seen = new Dictionary<string, bool>();
            foreach (Binding binding in bindings) {
                string name = Binding.BindNameOf(binding) ?? "";
                if (seen.ContainsKey(name)) continue;
                seen[name] = true;
                names.Add(name);
            }
            return names.ToArray();
        }

        // A name as ferrule compares names (StrCmpLogicalW): two names are the
        // same to it when their keys are, without regard to case, and with each
        // run of digits read as the number it spells (x01 is x1).
        public static string LogicalKey(string name) {
            System.Text.StringBuilder key = new System.Text.StringBuilder();
            string text = name ?? "";
            for (int i = 0; i < text.Length; i++) {
                char c = text[i];
                if (c >= '0' && c <= '9') {
                    int start = i;
                    while (i + 1 < text.Length && text[i + 1] >= '0' && text[i + 1] <= '9') i++;
                    string digits = text.Substring(start, i - start + 1).TrimStart('0');
                    key.Append('\u0001').Append(digits.Length == 0 ? "0" : digits).Append('\u0002');
                } else {
                    key.Append(char.ToLowerInvariant(c));
                }
            }
            return key.ToString();
        }

        // The bindings that ferrule cannot tell from another of the same
        // listing: the same component (as it is given it: on adapters the
        // adapter) and path as it compares names.
        public static Binding[] Ambiguous(Binding[] bindings) {
            Dictionary<string, int> count = new Dictionary<string, int>();
            string[] keys = new string[bindings.Length];
            for (int i = 0; i < bindings.Length; i++) {
                keys[i] = LogicalKey(Binding.BindNameOf(bindings[i])) + "\n" + LogicalKey(bindings[i].Path);
                int seen;
                count.TryGetValue(keys[i], out seen);
                count[keys[i]] = seen + 1;
            }
            List<Binding> alike = new List<Binding>();
            for (int i = 0; i < bindings.Length; i++)
                if (count[keys[i]] > 1) alike.Add(bindings[i]);
            return alike.ToArray();
        }

        public static string Field(Binding binding, string field) {
            string text = null;
            switch (field) {
                case "ComponentID": text = binding.ComponentID; break;
                case "Path": text = binding.Path; break;
                case "DisplayName": text = binding.DisplayName; break;
                case "Name": text = binding.Name; break;
                case "InterfaceDescription": text = binding.InterfaceDescription; break;
                case "InterfaceGuid": text = binding.InterfaceGuid; break;
                case "First": text = Binding.First(binding.Path); break;
            }
            return text ?? "";
        }
    }
}
