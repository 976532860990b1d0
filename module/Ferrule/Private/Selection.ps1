# Selecting bindings: which listing to ask ferrule for, which of its paths a
# selection names, and which of the selection's literal values name none.

function Test-Wildcard {
    param([string]$Value)
    [System.Management.Automation.WildcardPattern]::ContainsWildcardCharacters($Value)
}

# Connection names often hold brackets: in -Name only * and ? are wildcards.
function Test-NameWildcard {
    param([string]$Value)
    $Value.IndexOfAny([char[]]'*?') -ge 0
}

function Test-Like {
    param([string]$Value, [string[]]$Patterns)
    foreach ($pattern in $Patterns) {
        if ($Value -like $pattern) { return $true }
    }
    $false
}

function Test-NameLike {
    param([string]$Value, [string]$Pattern)
    $expression = '^' + [regex]::Escape($Pattern).Replace('\*', '.*').Replace('\?', '.') + '$'
    [regex]::IsMatch($Value, $expression, 'IgnoreCase, Singleline')
}

# Whether values are one value without wildcards.
function Test-Literal {
    param([string[]]$Values)
    $null -ne $Values -and $Values.Count -eq 1 -and -not (Test-Wildcard -Value $Values[0])
}

# The words of one listing: ferrule compares a single value without wildcards
# itself (as Windows compares names); anything else is filtered here. On the
# Adapter class a component may be an adapter or a component bound to one, so
# the whole class is listed.
function Get-ListingArgument {
    param([string]$Class, [string[]]$ComponentID, [string[]]$Path)
    $arguments = @('class', $script:ClassWords[$Class])
    if ($Class -ne 'Adapter' -and (Test-Literal -Values $ComponentID)) { $arguments += 'comp', $ComponentID[0] }
    if (Test-Literal -Values $Path) { $arguments += 'path', $Path[0] }
    $arguments
}

# A selection as tests, one for each parameter given: Values, whether each is
# Literal, and Test (a binding and a value: whether that value names it).
# Passed names the parameters that ferrule itself compared. On the Adapter
# class, a -ComponentID value that matches no adapter's bind name names the
# paths whose first component it matches, as the NetAdapterBinding cmdlets'
# -ComponentID does.
function Get-SelectionTest {
    param([string]$Class, [string[]]$Components, [hashtable]$Selectors, [hashtable]$AdapterNames, [string[]]$Passed)
    foreach ($parameter in 'Name', 'ComponentID', 'Path', 'DisplayName') {
        $values = $Selectors[$parameter]
        if (-not $values) { continue }
        $test = $null
        if ($Passed -contains $parameter) {
            $test = { param($binding, $value) $true }
        } elseif ($parameter -eq 'Name') {
            # An adapter whose connection name is not known has an empty one: * names it too.
            $test = { param($binding, $value) Test-NameLike -Value ([string]$binding.Name) -Pattern $value }
        } elseif ($parameter -eq 'ComponentID' -and $Class -eq 'Adapter') {
            $adapters = @{}
            foreach ($value in $values) { $adapters[$value] = @($Components | Where-Object { $_ -like $value }).Count -gt 0 }
            $test = {
                param($binding, $value)
                if ($adapters[$value]) { return $binding.ComponentID -like $value }
                ($binding.Path -split '->', 2)[0] -like $value
            }.GetNewClosure()
        } else {
            $property = $parameter
            $test = { param($binding, $value) $binding.$property -like $value }.GetNewClosure()
        }
        $literal = @(foreach ($value in $values) {
                if ($parameter -eq 'Name') { -not (Test-NameWildcard -Value $value) } else { -not (Test-Wildcard -Value $value) }
            })
        [pscustomobject]@{ Parameter = $parameter; Values = @($values); Literal = $literal; Test = $test }
    }
}

# The bindings of one listing that the tests name; and, in Unmatched, each
# test's literal values that name none of them.
function Select-Binding {
    param([object[]]$Bindings, [object[]]$Tests)
    $matched = @{}
    $selected = New-Object System.Collections.ArrayList
    foreach ($binding in $Bindings) {
        $hits = @()
        $all = $true
        foreach ($test in $Tests) {
            $any = $false
            for ($i = 0; $i -lt $test.Values.Count; $i++) {
                if (& $test.Test $binding $test.Values[$i]) {
                    $any = $true
                    $hits += "$($test.Parameter)`n$i"
                }
            }
            if (-not $any) {
                $all = $false
                break
            }
        }
        if (-not $all) { continue }
        [void]$selected.Add($binding)
        foreach ($hit in $hits) { $matched[$hit] = $true }
    }
    $unmatched = @(foreach ($test in $Tests) {
            for ($i = 0; $i -lt $test.Values.Count; $i++) {
                if ($test.Literal[$i] -and -not $matched.ContainsKey("$($test.Parameter)`n$i")) {
                    [pscustomobject]@{ Parameter = $test.Parameter; Value = $test.Values[$i] }
                }
            }
        })
    [pscustomobject]@{ Selected = $selected.ToArray(); Unmatched = $unmatched }
}

# What an ObjectNotFound on the Adapter class adds, so that a bound component
# can be found.
$script:AdapterHint = 'On the Adapter class, -ComponentID names an adapter (its bind name, such as {GUID}) or a ' +
'component bound to adapters (such as ms_tcpip6); -Name names adapters by their connection names.'

# The message for a literal value that names nothing.
function Get-UnmatchedMessage {
    param([string]$Class, [string]$Parameter, [string]$Value)
    if ($Parameter -eq 'Name') { return "No network adapter named '$Value' has a binding path that the selection names." }
    $message = "No binding path of class $Class matches -$Parameter '$Value'."
    if ($Class -eq 'Adapter' -and $Parameter -eq 'ComponentID') { $message += " $script:AdapterHint" }
    $message
}

# The bindings that a selection names, from one listing on each machine at
# once: as they come, marked with PSComputerName where the machine is
# another. -Name stands for the adapters of those connection names on each
# machine. Each literal value that names nothing on a machine is an error for
# that machine; with -Change, so is a selection that names nothing at all.
# Failures are errors, each for its machine, and a listing that could not be
# made gives nothing at all.
function Get-Selected {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [string]$Class, [string[]]$ComponentID,
        [string[]]$Path, [string[]]$DisplayName, [string[]]$Name, [switch]$Change, [hashtable]$Listings)
    $selectors = @{ ComponentID = $ComponentID; Path = $Path; DisplayName = $DisplayName; Name = $Name }
    $selection = "-Class $Class"
    foreach ($parameter in 'Name', 'ComponentID', 'Path', 'DisplayName') {
        if ($selectors[$parameter]) { $selection += " -$parameter $($selectors[$parameter] -join ',')" }
    }
    # A change lists the whole class: that listing is also the one before it,
    # against which what Windows changes beside it is found (Listings).
    $arguments = @('class', $script:ClassWords[$Class])
    if (-not $Change) { $arguments = @(Get-ListingArgument -Class $Class -ComponentID $ComponentID -Path $Path) }
    $passed = @()
    if ($arguments -contains 'comp') { $passed += 'ComponentID' }
    if ($arguments -contains 'path') { $passed += 'Path' }
    $commandLine = ConvertTo-CommandLine -ArgumentList $arguments
    $work = @{}
    foreach ($computer in (Get-SessionComputer -Session $Session)) { $work[$computer] = @($commandLine) }
    $machines = Invoke-Run -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Work $work `
        -WithAdapterNames:($Class -eq 'Adapter')
    foreach ($computer in (Get-SessionComputer -Session $Session)) {
        if (-not $machines.ContainsKey($computer)) { continue }
        $machine = $machines[$computer]
        if ($machine.Runs.Count -eq 0) { continue }
        $run = $machine.Runs[0]
        if (-not (Assert-Run -Cmdlet $Cmdlet -Run $run -Target $selection -Computer $computer)) { continue }
        $output = Read-Output -Lines $run.Lines -Class $Class -AdapterNames $machine.AdapterNames
        if ($computer) {
            foreach ($one in $output.Paths) { Add-Member -InputObject $one -NotePropertyName PSComputerName -NotePropertyValue $computer }
        }
        foreach ($failure in $output.Failures) { Write-Failure -Cmdlet $Cmdlet -Failure $failure -Target $selection -Computer $computer }
        if ($null -ne $Listings -and $arguments.Count -eq 2 -and $output.Failures.Count -eq 0) {
            if (-not $Listings.ContainsKey($Class)) { $Listings[$Class] = @{} }
            $Listings[$Class][$computer] = $output.Paths.ToArray()
        }
        $selected = $output.Paths
        $unmatched = @()
        $tests = @(Get-SelectionTest -Class $Class -Components $output.Components -Selectors $selectors `
                -AdapterNames $machine.AdapterNames -Passed $passed)
        if ($tests.Count -gt 0) {
            $result = Select-Binding -Bindings $output.Paths -Tests $tests
            $selected = $result.Selected
            $unmatched = $result.Unmatched
        }
        $selected
        if ($output.Failures.Count -gt 0) { continue }
        foreach ($miss in $unmatched) {
            $message = Get-UnmatchedMessage -Class $Class -Parameter $miss.Parameter -Value $miss.Value
            $Cmdlet.WriteError((New-ErrorRecord -Message $message -Category ObjectNotFound -Target $miss.Value -Computer $computer))
        }
        if ($Change -and $selected.Count -eq 0 -and $unmatched.Count -eq 0) {
            $message = "No binding path matches $selection."
            if ($Class -eq 'Adapter' -and $ComponentID) { $message += " $script:AdapterHint" }
            $Cmdlet.WriteError((New-ErrorRecord -Message $message -Category ObjectNotFound -Target $selection -Computer $computer))
        }
    }
}
