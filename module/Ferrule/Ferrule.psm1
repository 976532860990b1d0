# Ferrule: the binding paths of a Windows machine's network components as
# objects. Every command runs ferrule.exe, reads its lines and exit status, and
# turns its failures into errors; nothing here touches the configuration itself.
# Runs on Windows PowerShell 5.1 and on PowerShell 7.
#
# This file holds what every other file of the module reads: the class of the
# objects it gives, and the tables. Private/ holds the module's own work, one
# file a concern; Public/ one file a command, with its help. The files are
# listed once, in the manifest's FileList, and dot-sourced from there.
Set-StrictMode -Version 2.0

# Ferrule.Binding, a class of its own: a listing can hold tens of thousands of
# paths, and a compiled class is made several times faster than a custom object.
if (-not ('Ferrule.Selection' -as [type])) {
    Add-Type -TypeDefinition @'
using System.Collections.Generic;
using System.Text.RegularExpressions;
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

        // The bind names of the bindings' components, each once.
        public static string[] Components(Binding[] bindings) {
            // (A Dictionary, not a HashSet: Windows PowerShell's Add-Type does
            // not reference System.Core.)
            List<string> names = new List<string>();
            Dictionary<string, bool> seen = new Dictionary<string, bool>();
            foreach (Binding binding in bindings) {
                string name = binding.ComponentID ?? "";
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
        // listing: the same component and path as it compares names.
        public static Binding[] Ambiguous(Binding[] bindings) {
            Dictionary<string, int> count = new Dictionary<string, int>();
            string[] keys = new string[bindings.Length];
            for (int i = 0; i < bindings.Length; i++) {
                keys[i] = LogicalKey(bindings[i].ComponentID) + "\n" + LogicalKey(bindings[i].Path);
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
                case "First":
                    text = binding.Path ?? "";
                    int arrow = text.IndexOf("->");
                    if (arrow >= 0) text = text.Substring(0, arrow);
                    break;
            }
            return text ?? "";
        }
    }
}
'@
}

# The commands' class names and ferrule's words for them, in ferrule's order.
# The commands' ValidateSet attributes must list the same names (an attribute
# takes only constants); a test holds them to this table.
$script:ClassWords = [ordered]@{ Adapter = 'dev'; Client = 'client'; Protocol = 'proto'; Service = 'service' }

# ferrule's failure lines, by the call each names (what comes before
# " returned CODE", or before the code of a failed apply), and the error
# category each becomes; the first pattern that matches wins. Access denied is
# PermissionDenied whatever the call. Every line that ferrule can print for a
# failure has its row here: a test holds the table to the list of them.
$script:FailureCategories = @(
    @{ Call = '^lock->AcquireWriteLock\(\)$'; Category = 'ResourceBusy'; Id = 'LockNotTaken' }
    @{ Call = '^bindingPath->Enable\(-?\d+\)$'; Category = 'WriteError'; Id = 'PathNotSet' }
    @{ Call = '^Applying changes \.\.\. failed - error code$'; Category = 'WriteError'; Id = 'ApplyFailed' }
    @{ Call = '^(netCfgComp->QueryInterface|bindings->EnumBindingPaths)\(\)$'; Category = 'ReadError'; Id = 'BindingsUnreadable' }
    @{ Call = '^netCfg->Uninitialize\(\)$'; Category = 'CloseError'; Id = 'NotClosed' }
    @{ Call = '^(CoInitializeEx\(\)|CoCreateInstance\(CLSID_CNetCfg\)|netCfg->QueryInterface\(IID_INetCfgLock\))$'
        Category = 'OpenError'; Id = 'NotOpened'
    }
    @{ Call = '^(netCfg->Initialize|QueryNetCfgClass|EnumComponents)\(\)$'; Category = 'OpenError'; Id = 'NotOpened' }
)
$script:AccessDenied = '80070005'

# The IDs of ferrule's other lines: access denied whatever the call, a call
# that the table lacks, a path line under no heading, a line it does not print.
$script:FailureIds = @{ PermissionDenied = 'AccessDenied'; OpenError = 'NotOpened'; InvalidResult = 'PathWithoutHeading'
    NotSpecified = 'LineNotKnown'
}

# The messages of errors and warnings (en-US/Ferrule.strings.psd1, or the UI
# culture's where there is one). Windows PowerShell 5.1 does not fall back to
# en-US by itself: a culture without a folder of its own gets en-US here.
$script:Messages = $null
$culture = [Globalization.CultureInfo]::CurrentUICulture.Name
if (-not $culture -or -not (Test-Path -LiteralPath (Join-Path $PSScriptRoot "$culture/Ferrule.strings.psd1"))) { $culture = 'en-US' }
Import-LocalizedData -BindingVariable Messages -FileName Ferrule.strings.psd1 -BaseDirectory $PSScriptRoot -UICulture $culture

# The exit status of a ferrule that was asked to stop: STATUS_CONTROL_C_EXIT on
# Windows, 58 (its Unix status) under Wine, 128 plus the signal on the stand-in.
$script:StoppedStatuses = @(-1073741510, 58, 130, 143, 129)

# A path's line: its token, then its state in a listing, or its states before
# and after in a change.
$script:ListingLine = [regex]'^    (.*): ([01])$'
$script:ChangeLine = [regex]'^    (.*): ([01])->([01])$'

# The protocols that carry a session from another machine, which are not
# disabled on the adapters that may carry it without -Force.
$script:GuardedProtocols = @('ms_tcpip', 'ms_tcpip6')

# The components that carry other adapters (the Hyper-V switch protocol, the
# NIC team multiplexor, the bridge): binding one to an adapter unbinds TCP/IP
# from it, so neither way are they changed there without -Force.
$script:CarrierComponents = @('vms_pp', 'ms_implat', 'ms_bridge')

# NETCFG_S_REBOOT: the change is made, and a restart completes it.
$script:RebootCode = '4a020'

# The module's folder, where the package keeps its own copy of each exe.
$script:ModuleRoot = $PSScriptRoot

# How many machines at once, unless -ThrottleLimit says otherwise.
$script:DefaultThrottleLimit = 32

$manifest = Import-PowerShellDataFile -Path (Join-Path $PSScriptRoot 'Ferrule.psd1')
foreach ($file in @($manifest.FileList | Where-Object { $_ -like '*.ps1' })) {
    . (Join-Path $PSScriptRoot $file)
}

Export-ModuleMember -Function $manifest.FunctionsToExport
