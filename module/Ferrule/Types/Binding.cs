namespace Ferrule {
    // One binding path of a network component, in the state ferrule left it.
    // On adapters, as Get-NetAdapterBinding gives it: ComponentID is the
    // component bound to the adapter (the path's first element), the adapter
    // is Name, InterfaceDescription and InterfaceGuid (its bind name, the
    // path's last element), and DisplayName is null.
    public class Binding {
        public Binding(string componentClass, string componentId, string displayName, string path, bool enabled,
                       string name) {
            Class = componentClass; ComponentID = componentId; DisplayName = displayName; Path = path;
            Enabled = enabled; Name = name;
        }
        public Binding(string componentClass, string componentId, string displayName, string path, bool enabled,
                       string name, string machineId, string machineName)
            : this(componentClass, componentId, displayName, path, enabled, name) {
            MachineId = machineId; MachineName = machineName;
        }
        public string Class { get; set; }
        public string ComponentID { get; set; }
        public string DisplayName { get; set; }
        public string Path { get; set; }
        public bool Enabled { get; set; }
        public string Name { get; set; }
        public string InterfaceDescription { get; set; }
        public string InterfaceGuid { get; set; }
        public bool RebootRequired { get; set; }
        // Changed by Windows beside a change that was asked for, not by it.
        public bool SideEffect { get; set; }
        // The machine's identity: its MachineGuid, and the name it gives itself.
        public string MachineId { get; set; }
        public string MachineName { get; set; }
        public Binding Clone() { return (Binding)MemberwiseClone(); }

        // A path of a listing, under the heading of its component (bind name
        // and display name, as ferrule prints them).
        public static Binding Listed(string componentClass, string bindName, string displayName, string path,
                                     bool enabled, string name, string machineId, string machineName) {
            if (componentClass != "Adapter")
                return new Binding(componentClass, bindName, displayName, path, enabled, name, machineId, machineName);
            Binding binding = new Binding(componentClass, First(path), null, path, enabled, name, machineId,
                                          machineName);
            binding.InterfaceDescription = displayName;
            binding.InterfaceGuid = bindName;
            return binding;
        }

        // The component whose listing holds the path, by the bind name that
        // ferrule compares (its comp): on adapters the adapter's.
        public static string BindNameOf(Binding binding) {
            return binding.Class == "Adapter" ? binding.InterfaceGuid : binding.ComponentID;
        }

        // The one key of a path on its machine (Computer, '' for this one):
        // its class, component, adapter (InterfaceGuid, on adapters) and path,
        // so that a path of one adapter is never taken for another's.
        public static string KeyOf(Binding binding, string computer) {
            return (computer ?? "") + "\n" + binding.Class + "\n" + binding.ComponentID + "\n" +
                   binding.InterfaceGuid + "\n" + binding.Path;
        }

        // A path's first element, and its last.
        public static string First(string path) {
            string text = path ?? "";
            int arrow = text.IndexOf("->");
            return arrow >= 0 ? text.Substring(0, arrow) : text;
        }
        public static string Last(string path) {
            string text = path ?? "";
            int arrow = text.LastIndexOf("->");
            return arrow >= 0 ? text.Substring(arrow + 2) : text;
        }
    }
}
