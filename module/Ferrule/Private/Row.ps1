# Rows: objects that name paths and the states wanted for them (saved bindings,
# rows of a file, hand-written rules), routed to their machines and found there.

# What the rows routed to one machine name in its listings (Listings: its
# bindings by class). Chosen: by the path's key, the binding and the last
# row that names it. Missing: the literal rows that name no path. A
# row whose ComponentID and Path are both literal names that path alone (a
# saved row: its Name only describes it), found in an index of its class's
# listing without a function call a row, since a baseline may have a row for
# every path; any other row is a rule, which names every path that all its
# selectors match. Unmatched: the rules that name none.
function Resolve-Row {
    param([object[]]$Routes, [string]$Computer, [hashtable]$Listings)
    $chosen = [ordered]@{}
    $missing = New-Object System.Collections.ArrayList
    $unmatched = New-Object System.Collections.ArrayList
    $indexes = @{}
    foreach ($route in $Routes) {
        if ($route.Computers -notcontains $Computer) { continue }
        $want = $route.Want
        $bindings = $Listings[$want.Class]
        if ($null -eq $bindings) { $bindings = [object[]]@() }
        if ($want.Literal) {
            if (-not $indexes.ContainsKey($want.Class)) {
                $index = @{}
                foreach ($one in $bindings) {
                    $key = "$($one.ComponentID)`n$($one.Path)"
                    if (-not $index.ContainsKey($key)) { $index[$key] = $one }
                }
                $indexes[$want.Class] = $index
            }
            $found = @($indexes[$want.Class]["$($want.ComponentID)`n$($want.Path)"])
            if ($null -eq $found[0]) {
                $found = @()
                [void]$missing.Add($want)
            }
        } else {
            $found = @(Find-RuleBinding -Want $want -Bindings $bindings)
            if ($found.Count -eq 0) { [void]$unmatched.Add($want) }
        }
        foreach ($one in $found) {
            $chosen[[Ferrule.Binding]::KeyOf($one, $Computer)] = @{ Binding = $one; Want = $want }
        }
    }
    [pscustomobject]@{ Chosen = $chosen; Missing = $missing.ToArray(); Unmatched = $unmatched.ToArray() }
}

# Bindings named by rows (objects from the pipeline, a file or another
# session), each with the state wanted, found in one fresh listing of their
# classes on each machine, routed to their machines (Get-RowRoute) and
# resolved there (Resolve-Step), then changed where the state differs.
# Bound: the command's parameters.
function Invoke-Wanted {
    param($Cmdlet, [hashtable]$Bound, [object[]]$Wanted)
    $session = $Bound['Session']
    $classes = [ordered]@{}
    foreach ($want in $Wanted) { $classes[$want.Class] = $true }
    $computers = Get-SessionComputer -Session $session
    $listingArguments = @{ Cmdlet = $Cmdlet; Session = $session; ThrottleLimit = Get-ThrottleLimit -Bound $Bound
        Computers = $computers; Classes = [string[]]@($classes.Keys)
    }
    $listings = Get-Listing @listingArguments
    $routes = @(Get-RowRoute -Cmdlet $Cmdlet -Session $session -Wanted $Wanted -Identities $listings)
    $steps = @(foreach ($computer in $computers) {
            Resolve-Step -Cmdlet $Cmdlet -Listing $listings[$computer] -Routes $routes -Classes @($classes.Keys)
        })
    Invoke-Change -Cmdlet $Cmdlet -Bound $Bound -Steps $steps -Listings $listings
}

# The steps that the rows routed to one machine name in its Listing of
# Classes, each with the state its row wants (the last row that names a path
# wins). A class's failures are errors, but for one that left unknown only
# what no row names; a literal row that names no path is an error, and a
# rule that names none a warning unless it is Optional, where the class was
# listed whole.
function Resolve-Step {
    param($Cmdlet, [Ferrule.Listing]$Listing, [object[]]$Routes, [string[]]$Classes)
    $computer = $Listing.Computer
    $wants = @(foreach ($route in $Routes) { if ($route.Computers -contains $computer) { $route.Want } })
    $listed = @{}
    $whole = @{}
    foreach ($class in $Classes) {
        $run = $Listing.Runs[$class]
        $target = "-Class $class"
        if ($null -eq $run -or -not (Assert-Run -Cmdlet $Cmdlet -Run $run -Target $target -Computer $computer)) {
            continue
        }
        $output = $Listing.Outputs[$class]
        foreach ($failure in $output.Failures) {
            $named = @(if ($failure.Unknown) { foreach ($want in $wants) {
                        if ($want.Class -eq $class -and (Test-Named -Failure $failure -Want $want)) { $want } } })
            if ($failure.Unknown -and $named.Count -eq 0) { continue }
            Write-Failure -Cmdlet $Cmdlet -Failure $failure -Target $target -Computer $computer
        }
        $listed[$class] = $output.Paths.ToArray()
        $whole[$class] = $output.Failures.Count -eq 0
    }
    $resolved = Resolve-Row -Routes $Routes -Computer $computer -Listings $listed
    foreach ($want in $resolved.Missing) {
        if (-not $whole[$want.Class]) { continue }
        $record = New-ErrorRecord -Id SavedRowMissing -Values $want.ComponentID, $want.Path, $want.Class `
            -Category ObjectNotFound -Target $want.Source -Computer $computer
        $Cmdlet.WriteError($record)
    }
    foreach ($want in $resolved.Unmatched) {
        if ($want.Optional -or -not $whole[$want.Class]) { continue }
        $machine = $(if ($computer) { "${computer}: " } else { '' })
        $Cmdlet.WriteWarning((Get-Message -Id RuleNamesNothing -Values $machine, $want.Class, (Get-RowText `
                        -Want $want)))
    }
    foreach ($entry in $resolved.Chosen.Values) {
        New-Object Ferrule.ChangeStep $entry.Binding, $computer, $entry.Want.Enabled, $entry.Want.Computer
    }
}

# A row's selectors, as a rule is written.
function Get-RowText {
    param($Want)
    $parts = @(foreach ($parameter in 'ComponentID', 'Path', 'Name') {
            if ($Want.$parameter) { "$parameter '$($Want.$parameter)'" }
        })
    $parts -join ', '
}

# The bindings of one machine's listing that a rule names.
function Find-RuleBinding {
    param($Want, $Bindings)
    $selectors = @{ ComponentID = @($Want.ComponentID); Path = @($Want.Path); Name = @($Want.Name) }
    $components = [Ferrule.Selection]::Components([Ferrule.Binding[]]@($Bindings))
    $tests = @(Get-SelectionTest -Class $Want.Class -Components $components -Selectors $selectors)
    (Select-Binding -Bindings $Bindings -Tests $tests).Selected
}

# What the rows (Items) ask for, as the compiled row reader (Types/Row.cs)
# reads them: Rows, those that ask for a state, in their order, and Refused,
# how many could not be read, each an InvalidArgument error whose target is
# the row that says why. A Compare row that asks for nothing (Equal, New) is
# neither. State is the state wanted (Disable and Enable), else each row's.
function ConvertTo-Wanted {
    param($Cmdlet, [object[]]$Items, $State)
    $rows = New-Object System.Collections.ArrayList
    $refused = 0
    foreach ($row in [Ferrule.RowReader]::Read($Items, $State, $script:ClassWords)) {
        if (-not $row.Problem) {
            if (-not $row.Left) { [void]$rows.Add($row) }
            continue
        }
        $refused++
        $Cmdlet.WriteError((New-ErrorRecord -Id $row.Problem -Values $row.ProblemValues -Category InvalidArgument `
            -Target $row.Source))
    }
    [pscustomobject]@{ Rows = $rows.ToArray(); Refused = $refused }
}
