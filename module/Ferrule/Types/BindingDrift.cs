namespace Ferrule {
    // How a path stands against a baseline: Changed (Found is not Wanted),
    // Missing (a saved row names no path), Unmatched (a rule names no path;
    // Optional when its row says so), Equal, or New (no row names it).
    public class BindingDrift {
        public BindingDrift(string computerName, string drift, string componentClass, string componentId, string name,
                     string path, bool? wanted, bool? found) {
            ComputerName = computerName; Drift = drift; Class = componentClass; ComponentID = componentId; Name = name;
            Path = path; Wanted = wanted; Found = found;
        }
        public string ComputerName { get; set; }
        public string Drift { get; set; }
        public string Class { get; set; }
        public string ComponentID { get; set; }
        public string Name { get; set; }
        public string Path { get; set; }
        public bool? Wanted { get; set; }
        public bool? Found { get; set; }
        public bool Optional { get; set; }
    }
}
