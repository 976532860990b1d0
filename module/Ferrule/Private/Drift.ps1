# Drift: how each machine's paths stand against baseline rows, found from one
# listing of each of the rows' classes on each machine, changing nothing.

# The classes that the rows name, in ferrule's order: each is listed once on
# each machine, whatever the number of its rows.
function Get-BaselineClass {
    param([object[]]$Wanted)
    $named = @{}
    foreach ($want in $Wanted) { $named[$want.Class] = $true }
    , @(foreach ($class in $script:ClassWords.Keys) { if ($named.ContainsKey($class)) { $class } })
}

# Writes each failure of a machine's listings (Unknown: by class) that left
# unknown what one of its rows (Wants) names, as that machine's error: one
# that no row is about changes no answer, and is not said.
function Write-NamedUnknown {
    param($Cmdlet, [string]$Computer, [hashtable]$Unknown, [object[]]$Wants)
    foreach ($class in $Unknown.Keys) {
        foreach ($failure in $Unknown[$class]) {
            $named = @(foreach ($want in $Wants) { if ($want.Class -eq $class -and
                    (Test-Named -Failure $failure -Want $want)) { $want } })
            if ($named.Count -eq 0) { continue }
            Write-Failure -Cmdlet $Cmdlet -Failure $failure -Target $Computer -Computer $Computer
        }
    }
}

# A machine's drift (named Machine) from the rows that Resolve-Row resolved
# there (Resolved): Missing for each literal row that names no path, and
# Unmatched for each rule that names none (an Optional one only with
# -IncludeEqual), neither where a failure of the listings (Unknown, by
# class) left unknown what the row names; Changed for each path that its
# last row wants in the other state, and with -IncludeEqual Equal for each
# one in its wanted state. (Each object is made here, not by a function an
# object: a baseline may name tens of thousands.)
function Get-RowDrift {
    param([string]$Machine, $Resolved, [hashtable]$Unknown, [switch]$IncludeEqual)
    foreach ($want in $Resolved.Missing) {
        if (Test-Unknown -Unknown $Unknown[$want.Class] -Want $want) { continue }
        [Ferrule.BindingDrift]::new($Machine, 'Missing', $want.Class, $want.ComponentID, $want.Name, $want.Path,
            $want.Enabled, $null)
    }
    foreach ($want in $Resolved.Unmatched) {
        if ($want.Optional -and -not $IncludeEqual) { continue }
        $named = @(foreach ($failure in $Unknown[$want.Class]) { if (Test-Named -Failure $failure -Want $want) {
                $failure } })
        if ($named.Count -gt 0) { continue }
        $drift = [Ferrule.BindingDrift]::new($Machine, 'Unmatched', $want.Class, $want.ComponentID, $want.Name,
            $want.Path, $want.Enabled, $null)
        $drift.Optional = $want.Optional
        $drift
    }
    foreach ($entry in $Resolved.Chosen.Values) {
        $one = $entry.Binding
        $wanted = $entry.Want.Enabled
        $drift = $(if ($one.Enabled -ne $wanted) { 'Changed' } elseif ($IncludeEqual) { 'Equal' } else { $null })
        if (-not $drift) { continue }
        [Ferrule.BindingDrift]::new($Machine, $drift, $one.Class, $one.ComponentID, $one.Name, $one.Path, $wanted,
            $one.Enabled)
    }
}

# Each path of a machine's listings (Listings: by class) of the rows'
# Classes that no row chose (Chosen: Resolve-Row's, by the path's key on
# Computer), as drift New, named Machine.
function Get-NewDrift {
    param([string]$Machine, [string]$Computer, [string[]]$Classes, [hashtable]$Listings, $Chosen)
    foreach ($class in $Classes) {
        foreach ($one in @($Listings[$class])) {
            if ($null -eq $one -or $Chosen.Contains([Ferrule.Binding]::KeyOf($one, $Computer))) {
                continue
            }
            [Ferrule.BindingDrift]::new($Machine, 'New', $one.Class, $one.ComponentID, $one.Name, $one.Path, $null,
                $one.Enabled)
        }
    }
}

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
    $classes = Get-BaselineClass -Wanted $Wanted
    if ($classes.Count -eq 0) { return }
    $computers = Get-SessionComputer -Session $Session
    $listings = Get-Listing -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Computers $computers `
        -Classes $classes
    $routes = @(Get-RowRoute -Cmdlet $Cmdlet -Session $Session -Wanted $Wanted -Identities $listings)
    foreach ($computer in $computers) {
        if (-not $listings.ContainsKey($computer)) { continue }
        $listing = $listings[$computer]
        if ($listing.Problems.Count -gt 0) {
            Write-ListingProblem -Cmdlet $Cmdlet -Listing $listing -Classes $classes
            continue
        }
        $wants = @(foreach ($route in $routes) { if ($route.Computers -contains $computer) { $route.Want } })
        Write-NamedUnknown -Cmdlet $Cmdlet -Computer $computer -Unknown $listing.Unknown -Wants $wants
        $machine = $(if ($computer) { $computer } else { [Environment]::MachineName })
        $resolved = Resolve-Row -Routes $routes -Computer $computer -Listings $listing.Classes
        Get-RowDrift -Machine $machine -Resolved $resolved -Unknown $listing.Unknown -IncludeEqual:$IncludeEqual
        if (-not $IncludeNew) { continue }
        Get-NewDrift -Machine $machine -Computer $computer -Classes $classes -Listings $listing.Classes `
            -Chosen $resolved.Chosen
    }
}

# Writes why a machine's Listing of Classes cannot be compared as a change
# writes it (Resolve-Step), so that a failure reads alike whichever command
# met it: each class not listed, by its run's end or its failure lines, with
# what to do about them (Write-Failure's hint). Where a class's run says
# nothing of why, or the machine did not answer, its problems are one
# ListingsNotMade error.
function Write-ListingProblem {
    param($Cmdlet, [Ferrule.Listing]$Listing, [string[]]$Classes)
    $computer = $Listing.Computer
    $unsaid = -not $Listing.Answered
    foreach ($class in $Classes) {
        if ($Listing.Classes.ContainsKey($class)) { continue }
        $run = $Listing.Runs[$class]
        if ($null -eq $run) {
            $unsaid = $true
            continue
        }
        $target = "-Class $class"
        if (-not (Assert-Run -Cmdlet $Cmdlet -Run $run -Target $target -Computer $computer)) { continue }
        $failures = @($Listing.Outputs[$class].Failures)
        foreach ($failure in $failures) {
            Write-Failure -Cmdlet $Cmdlet -Failure $failure -Target $target -Computer $computer
        }
        if ($failures.Count -eq 0) { $unsaid = $true }
    }
    if (-not $unsaid) { return }
    $record = New-ErrorRecord -Id ListingsNotMade -Values ($Listing.Problems -join ' | ') -Category ReadError `
        -Target $computer -Computer $computer
    $Cmdlet.WriteError($record)
}

# The one verdict on a baseline, which Test-FerruleBinding gives and the
# scripts of New-FerruleRemediation read, from its Drift with -IncludeEqual:
# OnBaseline only where nothing Failed (an error: then nothing can be told)
# and nothing is Off. Off: each Changed path, Missing row and Unmatched rule
# that is not Optional (a typo, or an adapter the machine lacks). An Optional
# rule that names nothing is no drift (Unused), so a baseline of optional
# rules alone, none of which names a path here, is on the baseline. Equal:
# how many paths are in their wanted state; Rows: how many rows it has.
function Get-BaselineVerdict {
    param([object[]]$Drift, [bool]$Failed, [int]$Rows)
    $off = New-Object System.Collections.ArrayList
    $unused = New-Object System.Collections.ArrayList
    $equal = 0
    foreach ($one in $Drift) {
        if ($one.Drift -eq 'Equal') { $equal++ }
        elseif ($one.Drift -eq 'Unmatched' -and $one.Optional) { [void]$unused.Add($one) }
        elseif ('Changed', 'Missing', 'Unmatched' -contains $one.Drift) { [void]$off.Add($one) }
    }
    [pscustomobject]@{ PSTypeName = 'Ferrule.BaselineVerdict'; OnBaseline = -not $Failed -and $off.Count -eq 0
        Off = $off.ToArray(); Equal = $equal; Unused = $unused.ToArray(); Rows = $Rows
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
