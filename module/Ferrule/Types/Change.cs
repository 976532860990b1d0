using System.Collections;
using System.Collections.Generic;

namespace Ferrule {
    // One machine's listing, as one round of ferrule runs read it: who the
    // machine is, and for each class asked for what was read. Computer is
    // the one name a machine goes by inside the module ('' for this one).
    // Classes holds, by class, the paths of each class that was listed whole
    // or with only parts of it unknown (those parts are Unknown's, by class:
    // the failures that say what); Problems says why any other class was not
    // listed. Runs and Outputs keep each class's run and what its lines said,
    // for the errors a selection gives. Ambiguous holds the keys of the paths
    // that ferrule cannot tell from another path of their class. Narrowed:
    // ferrule compared a selector itself, so the listing is not a whole class.
    public sealed class Listing {
        public Listing(string computer) {
            Computer = computer ?? "";
            Classes = new Hashtable();
            Unknown = new Hashtable();
            Runs = new Hashtable();
            Outputs = new Hashtable();
            Ambiguous = new Dictionary<string, bool>();
            Problems = new List<string>();
        }
        public string Computer { get; private set; }
        public string MachineId { get; set; }
        public string MachineName { get; set; }
        public bool Answered { get; set; }
        public bool Narrowed { get; set; }
        public Hashtable AdapterNames { get; set; }
        public Hashtable Classes { get; private set; }
        public Hashtable Unknown { get; private set; }
        public Hashtable Runs { get; private set; }
        public Hashtable Outputs { get; private set; }
        public Dictionary<string, bool> Ambiguous { get; private set; }
        public List<string> Problems { get; private set; }

        // Whether a class was listed in full: no part of it unknown.
        public bool IsWhole(string componentClass) {
            return Classes.ContainsKey(componentClass) && !Unknown.ContainsKey(componentClass) && !Narrowed;
        }
    }

    // One path that a change command was asked to put in a state: the
    // binding as listed (its state before), the machine (Computer, '' for
    // this one) and RowComputer, the name its row gave the machine; the
    // state Wanted; and the plan's Verdict on it. Change: it runs;
    // InState: it is left, already in that state; LookAlike and Guarded:
    // refused; Declined: ShouldProcess said no. Its Record is made once it
    // is confirmed, and says how it ended.
    public sealed class ChangeStep {
        public ChangeStep(Binding binding, string computer, bool wanted, string rowComputer) {
            Binding = binding; Computer = computer ?? ""; Wanted = wanted; RowComputer = rowComputer;
            Verdict = "Change";
        }
        public Binding Binding { get; private set; }
        public string Computer { get; private set; }
        public string RowComputer { get; private set; }
        public bool Wanted { get; private set; }
        public string Verdict { get; set; }
        public string CommandLine { get; set; }
        public ChangeRecord Record { get; set; }
        public string Action { get { return Wanted ? "Enable" : "Disable"; } }
    }

    // How one path ended, as its event record says: its event ID (1000 made,
    // 1001 failed, 1002 changed by Windows beside), its Outcome (Made, Failed,
    // or Unknown: it may have been made), the path, its state Before (null
    // where it could not be read) and After, and the lines of its run
    // (Output), which say why; the machine it is kept on (Computer, '' for
    // this one). Said: an error or an object has told it.
    public sealed class ChangeRecord {
        public ChangeRecord(int eventId, string outcome, Binding binding, object before, bool after) {
            EventId = eventId; Outcome = outcome; Before = before; After = after;
            Class = binding.Class; ComponentID = binding.ComponentID; Name = binding.Name; Path = binding.Path;
            Output = ""; Computer = "";
        }
        public int EventId { get; set; }
        public string Outcome { get; set; }
        public string Class { get; private set; }
        public string ComponentID { get; private set; }
        public string Name { get; private set; }
        public string Path { get; private set; }
        public object Before { get; set; }
        public bool After { get; set; }
        public string Output { get; set; }
        public string Label { get; set; }
        public string Computer { get; set; }
        // For 1002: the paths asked for on the machine, beside which Windows changed it.
        public string Beside { get; set; }
        public bool Said { get; set; }
    }
}
