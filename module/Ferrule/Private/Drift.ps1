# Drift: how each machine's paths stand against baseline rows, found from one
# listing of each of the rows' classes on each machine, changing nothing.

# One object a path whose state differs from the last row that names it
# (Changed), a literal row that names no path (Missing), or a rule that names
# none (Unmatched; an Optional one only with -IncludeEqual); with
# -IncludeEqual also the paths in their wanted state (Equal), with
# -IncludeNew every path of the rows' classes that no row names (New). A
# machine whose listings could not be made is an error, never an empty
# answer. Rows are routed to machines by the identities that the listings read.
function Compare-Baseline {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [object[]]$Wanted, [switch]$IncludeEqual,
        [switch]$IncludeNew)
    $named = @{}
    foreach ($want in $Wanted) { $named[$want.Class] = $true }
    $classes = @(foreach ($class in $script:ClassWords.Keys) { if ($named.ContainsKey($class)) { $class } })
    if ($classes.Count -eq 0) { return }
    $computers = Get-SessionComputer -Session $Session
    $listings = Get-Listing -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Computers $computers `
        -Classes $classes
    $routes = @(Get-RowRoute -Cmdlet $Cmdlet -Session $Session -Wanted $Wanted -Identities $listings)
    foreach ($computer in $computers) {
        if (-not $listings.ContainsKey($computer)) { continue }
        $listing = $listings[$computer]
        if ($listing.Problems.Count -gt 0) {
            $record = New-ErrorRecord -Id ListingsNotMade -Values ($listing.Problems -join ' | ') -Category ReadError `
                -Target $computer -Computer $computer
            $Cmdlet.WriteError($record)
            continue
        }
        # Each object is made here, not by a function an object: a baseline may name tens of thousands.
        $machine = $(if ($computer) { $computer } else { [Environment]::MachineName })
        $resolved = Resolve-Row -Routes $routes -Computer $computer -Listings $listing.Classes
        foreach ($want in $resolved.Missing) {
            [Ferrule.BindingDrift]::new($machine, 'Missing', $want.Class, $want.ComponentID, $want.Name, $want.Path,
                $want.Enabled, $null)
        }
        foreach ($want in $resolved.Unmatched) {
            if ($want.Optional -and -not $IncludeEqual) { continue }
            $drift = [Ferrule.BindingDrift]::new($machine, 'Unmatched', $want.Class, $want.ComponentID, $want.Name,
                $want.Path,
                $want.Enabled, $null)
            $drift.Optional = $want.Optional
            $drift
        }
        $chosen = $resolved.Chosen
        foreach ($entry in $chosen.Values) {
            $one = $entry.Binding
            $wanted = $entry.Want.Enabled
            $drift = $(if ($one.Enabled -ne $wanted) { 'Changed' } elseif ($IncludeEqual) { 'Equal' } else { $null })
            if (-not $drift) { continue }
            [Ferrule.BindingDrift]::new($machine, $drift, $one.Class, $one.ComponentID, $one.Name, $one.Path,
                $wanted, $one.Enabled)
        }
        if (-not $IncludeNew) { continue }
        foreach ($class in $classes) {
            foreach ($one in @($listing.Classes[$class])) {
                if ($null -eq $one -or
                    $chosen.Contains("$($one.Class)`n$($one.ComponentID)`n$($one.Path)")) { continue }
                [Ferrule.BindingDrift]::new($machine, 'New', $one.Class, $one.ComponentID, $one.Name, $one.Path,
                    $null, $one.Enabled)
            }
        }
    }
}
