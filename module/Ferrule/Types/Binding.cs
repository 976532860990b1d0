namespace Ferrule {
    // One binding path of a network component, in the state ferrule left it.
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
        public bool RebootRequired { get; set; }
        // Changed by Windows beside a change that was asked for, not by it.
        public bool SideEffect { get; set; }
        // The machine's identity: its MachineGuid, and the name it gives itself.
        public string MachineId { get; set; }
        public string MachineName { get; set; }
        public Binding Clone() { return (Binding)MemberwiseClone(); }
    }
}
