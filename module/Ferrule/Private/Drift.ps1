# Drift: how each machine's paths stand against baseline rows, found from one
# listing of each of the rows' classes on each machine, changing nothing.

# One object a path whose state differs from the last row that names it
# (Changed), a literal row that names no path (Missing), or a rule that names
# none (Unmatched; an Optional one only with -IncludeEqual); with
# -IncludeEqual also the paths in their wanted state (Equal), with
# -IncludeNew every path of the rows' classes that no row names (New). A
# machine whose listings could not be made is an error, never an empty
# answer; so is each part of a listing left unknown, where no row is said to
# be Missing or Unmatched. Rows are routed to machines by the identities that
# the listings read.
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
        $unknown = $listing.Unknown
        $wants = @(foreach ($route in $routes) { if ($route.Computers -contains $computer) { $route.Want } })
        foreach ($class in $unknown.Keys) {
            foreach ($failure in $unknown[$class]) {
                $named = @(foreach ($want in $wants) { if ($want.Class -eq $class -and
                        (Test-Named -Failure $failure -Want $want)) { $want } })
                if ($named.Count -gt 0) { Write-Failure -Cmdlet $Cmdlet -Failure $failure -Target $computer `
                    -Computer $computer }
            }
        }
        # Each object is made here, not by a function an object: a baseline may name tens of thousands.
        $machine = $(if ($computer) { $computer } else { [Environment]::MachineName })
        $resolved = Resolve-Row -Routes $routes -Computer $computer -Listings $listing.Classes
        foreach ($want in $resolved.Missing) {
            if (Test-Unknown -Unknown $unknown[$want.Class] -Want $want) { continue }
            [Ferrule.BindingDrift]::new($machine, 'Missing', $want.Class, $want.ComponentID, $want.Name, $want.Path,
                $want.Enabled, $null)
        }
        foreach ($want in $resolved.Unmatched) {
            if ($want.Optional -and -not $IncludeEqual) { continue }
            $named = @(foreach ($failure in $unknown[$want.Class]) { if (Test-Named -Failure $failure -Want $want) {
                $failure } })
            if ($named.Count -gt 0) { continue }
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
                    $chosen.Contains([Ferrule.Binding]::KeyOf($one, $computer))) {
                    continue
                }
                [Ferrule.BindingDrift]::new($machine, 'New', $one.Class, $one.ComponentID, $one.Name, $one.Path,
                    $null, $one.Enabled)
            }
        }
    }
}

# Whether a failure of a listing of a row's class left unknown what the row
# (Want) names: any row, where the class's components were cut short; a rule,
# where a component's paths were, or where it names the path whose state was
# not read; a literal row, where it names that path or component.
function Test-Named {
    param($Failure, $Want)
    if ($Failure.Unknown -eq 'Class') { return $true }
    if ($Want.Literal) { return Test-Unknown -Unknown @($Failure) -Want $Want }
    if ($Failure.Unknown -eq 'Component') { return $true }
    @(Find-RuleBinding -Want $Want -Bindings @($Failure.Binding)).Count -gt 0
}

# Whether a listing's failures (Unknown, of the row's class) left unknown the
# path that a literal row (Want) names.
function Test-Unknown {
    param([object[]]$Unknown, $Want)
    # A failure names the heading it was under: on adapters, the adapter of the row's path.
    $component = $Want.ComponentID
    if ($Want.Class -eq 'Adapter') { $component = [Ferrule.Binding]::Last($Want.Path) }
    foreach ($failure in $Unknown) {
        if ($failure.Unknown -eq 'Class') { return $true }
        if ($failure.ComponentID -ne $component) { continue }
        if ($failure.Unknown -eq 'Component' -or $failure.Path -eq $Want.Path) { return $true }
    }
    $false
}
