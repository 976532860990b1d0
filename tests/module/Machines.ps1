# A machine description's paths, as the module's objects should give them:
# Class (the module's name for it), ComponentID, DisplayName, Path, Enabled;
# on adapters, ComponentID is the path's first element, DisplayName is null,
# and the adapter is InterfaceGuid and InterfaceDescription.
function Read-Machine([string]$File) {
    $classes = @{ dev = 'Adapter'; client = 'Client'; proto = 'Protocol'; service = 'Service' }
    $class = $null; $component = $null; $display = $null
    foreach ($line in [IO.File]::ReadAllLines($File)) {
        $words = @([regex]::Matches(($line -replace '#.*$', ''), '"((?:[^"\\]|\\.)*)"|(\S+)') |
                ForEach-Object { if ($_.Groups[1].Success) { $_.Groups[1].Value } else { $_.Groups[2].Value } })
        if ($words.Count -eq 0) { continue }
        switch ($words[0]) {
            'class' { $class = $classes[$words[1]] }
            'component' { $component = $words[1]; $display = $words[2] }
            'path' {
                $one = [pscustomobject]@{ Class = $class; ComponentID = $component; DisplayName = $display
                    Path = $words[1]; Enabled = ($words[2] -eq 'enabled'); InterfaceDescription = $null; InterfaceGuid = $null }
                if ($class -eq 'Adapter') {
                    $one.ComponentID, $one.DisplayName = ($words[1] -split '->', 2)[0], $null
                    $one.InterfaceGuid, $one.InterfaceDescription = $component, $display
                }
                $one
            }
        }
    }
}
