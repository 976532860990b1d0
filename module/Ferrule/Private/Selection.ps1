# Selecting bindings: which listing to ask ferrule for, which of its paths a
# selection names, and which of the selection's literal values name none.

# Only * and ? are wildcards: names hold brackets (connection names often,
# bind names now and then), and a bracket is itself everywhere.
function Test-Wildcard {
    param([string]$Value)
    [Ferrule.RowReader]::HasWildcard($Value)
}

# Whether values are one value without wildcards.
function Test-Literal {
    param([string[]]$Values)
    $null -ne $Values -and $Values.Count -eq 1 -and -not (Test-Wildcard -Value $Values[0])
}

# The class a selection's command works on: -Class, Adapter by default; -Name
# names adapters, and with another -Class is refused.
function Get-SelectionClass {
    param($Cmdlet, [hashtable]$Bound)
    $class = 'Adapter'
    if ($Bound.ContainsKey('Class')) { $class = $Bound['Class'] }
    if ($Bound.ContainsKey('Name') -and $class -ne 'Adapter') {
        $Cmdlet.ThrowTerminatingError((New-ErrorRecord -Id NameNeedsAdapter -Values $class -Category InvalidArgument `
            -Target $class))
    }
    $class
}

# The words of one listing, and which selectors they gave ferrule to compare
# (Passed): ferrule compares a single value without wildcards itself (as
# Windows compares names); anything else is filtered here. On the Adapter
# class a component may be an adapter or a component bound to one, so the
# whole class is listed.
function Get-ListingArgument {
    param([string]$Class, [string[]]$ComponentID, [string[]]$Path)
    $arguments = @('class', $script:ClassWords[$Class])
    $passed = @()
    if ($Class -ne 'Adapter' -and (Test-Literal -Values $ComponentID)) {
        $arguments += 'comp', $ComponentID[0]
        $passed += 'ComponentID'
    }
    if (Test-Literal -Values $Path) {
        $arguments += 'path', $Path[0]
        $passed += 'Path'
    }
    [pscustomobject]@{ Arguments = $arguments; Passed = $passed }
}

# A wildcard as a regular expression: * and ?, every other character itself.
function ConvertTo-WildcardRegex {
    param([string]$Pattern)
    $expression = [regex]::Escape($Pattern).Replace('\*', '.*').Replace('\?', '.')
    New-Object System.Text.RegularExpressions.Regex ('^(?:' + $expression +
        ')$'), 'IgnoreCase, Singleline, CultureInvariant'
}

# A selection as tests, one for each parameter given: Values, whether each is
# Literal, and for each a Matcher (the binding's Field it reads, and the
# Regex it must match), or none where ferrule compared it itself (Passed).
# On the Adapter class, ComponentID is the component bound to the adapter, as
# on the NetAdapterBinding cmdlets; a -ComponentID value that matches an
# adapter's bind name names that adapter's paths (InterfaceGuid), as rows
# saved before adapter bindings read so still do; and a -DisplayName value
# that matches no adapter's description (InterfaceDescription) names the
# paths whose component has a display name that it matches (BoundNames,
# display names by bind name, from the listings of the other classes).
function Get-SelectionTest {
    param([string]$Class, [string[]]$Components, [hashtable]$Selectors, [string[]]$Passed,
        [hashtable]$AdapterNames = @{}, [hashtable]$BoundNames = @{})
    foreach ($parameter in 'Name', 'ComponentID', 'Path', 'DisplayName') {
        $values = @($Selectors[$parameter] | Where-Object { $_ })
        if ($values.Count -eq 0) { continue }
        $matchers = @(foreach ($value in $values) {
                if ($Passed -contains $parameter) {
                    $null
                    continue
                }
                $regex = ConvertTo-WildcardRegex -Pattern $value
                $field = $parameter
                if ($parameter -eq 'ComponentID' -and $Class -eq 'Adapter' -and
                    [Ferrule.Selection]::AnyMatch([string[]]@($Components), $regex)) {
                    $field = 'InterfaceGuid'
                }
                if ($parameter -eq 'DisplayName' -and $Class -eq 'Adapter') { $field = 'InterfaceDescription' }
                if ($parameter -eq 'DisplayName' -and $Class -eq 'Adapter' -and
                    -not [Ferrule.Selection]::AnyMatch([string[]]@($AdapterNames.Values), $regex)) {
                    $field = 'ComponentID'
                    $bound = @(foreach ($key in $BoundNames.Keys) { if ($regex.IsMatch($BoundNames[$key])) {
                        [regex]::Escape($key) } })
                    $regex = New-Object System.Text.RegularExpressions.Regex ('^(?:' + ($bound -join '|') +
                        ')$'), 'IgnoreCase, CultureInvariant'
                    if ($bound.Count -eq 0) { $regex = New-Object System.Text.RegularExpressions.Regex '(?!)' }
                }
                [pscustomobject]@{ Field = $field; Regex = $regex }
            })
        $literal = @(foreach ($value in $values) { -not (Test-Wildcard -Value $value) })
        [pscustomobject]@{ Parameter = $parameter; Values = $values; Literal = $literal; Matchers = $matchers }
    }
}

# Whether a matcher (none: ferrule compared it) names a binding.
function Test-Matcher {
    param($Matcher, $Binding)
    if ($null -eq $Matcher) { return $true }
    $Matcher.Regex.IsMatch([Ferrule.Selection]::Field($Binding, $Matcher.Field))
}

# The bindings of one listing that the tests name (the compiled first pass);
# and, in Unmatched, the literal values that name nothing: those that name
# nothing of the listing on their own, so that a typo in one selector is
# laid to that selector alone; where there are none, those that name nothing
# of what the selection as a whole names.
function Select-Binding {
    param([object[]]$Bindings, [object[]]$Tests)
    $fields = New-Object 'string[][]' $Tests.Count
    $patterns = New-Object 'System.Text.RegularExpressions.Regex[][]' $Tests.Count
    for ($t = 0; $t -lt $Tests.Count; $t++) {
        $matchers = @($Tests[$t].Matchers)
        $fields[$t] = [string[]]@(foreach ($matcher in $matchers) { if ($matcher) { $matcher.Field } else { '' } })
        $patterns[$t] = [System.Text.RegularExpressions.Regex[]]@(foreach ($matcher in $matchers) { if ($matcher) {
            $matcher.Regex } else { $null } })
    }
    $selected = [Ferrule.Selection]::Select([Ferrule.Binding[]]@($Bindings), $fields, $patterns)
    $alone = New-Object System.Collections.ArrayList
    $together = New-Object System.Collections.ArrayList
    foreach ($test in $Tests) {
        for ($i = 0; $i -lt $test.Values.Count; $i++) {
            if (-not $test.Literal[$i]) { continue }
            if (Find-Matched -Matcher $test.Matchers[$i] -Bindings $selected) { continue }
            $miss = [pscustomobject]@{ Parameter = $test.Parameter; Value = $test.Values[$i] }
            if (Find-Matched -Matcher $test.Matchers[$i] -Bindings $Bindings) {
                [void]$together.Add($miss)
            } else {
                [void]$alone.Add($miss)
            }
        }
    }
    $unmatched = @($together)
    if ($alone.Count -gt 0) { $unmatched = @($alone) }
    [pscustomobject]@{ Selected = $selected; Unmatched = $unmatched }
}

# Whether a matcher names one of the bindings.
function Find-Matched {
    param($Matcher, [object[]]$Bindings)
    foreach ($binding in $Bindings) {
        if (Test-Matcher -Matcher $Matcher -Binding $binding) { return $true }
    }
    $false
}

# Up to ten of the names that exist, for an error about a name that does not:
# the connection names for -Name; for -ComponentID the bind names of the
# class, and on the Adapter class the components bound to the adapters.
function Get-ExistingName {
    param([string]$Class, [string]$Parameter, $Output, [hashtable]$AdapterNames)
    $names = @()
    if ($Parameter -eq 'Name') { $names = @($AdapterNames.Values) }
    if ($Parameter -eq 'ComponentID') {
        $names = @($Output.Components)
        if ($Class -eq 'Adapter') {
            $names = @(foreach ($one in $Output.Paths) { $one.ComponentID })
        }
    }
    $names = @($names | Where-Object { $_ } | Sort-Object -Unique)
    if ($names.Count -eq 0) { return '' }
    if ($names.Count -le 10) { return ' ' + (Get-Message -Id NamesThere -Values ($names -join ', ')) }
    ' ' + (Get-Message -Id NamesThereMore -Values (($names | Select-Object -First 10) -join ', '), ($names.Count - 10))
}

# The error for a literal value that names nothing (on the Adapter class,
# with a hint of how a bound component is named; for a -Name that is the bind
# name of a component, that -ComponentID is no longer positional), with names
# that do exist (Existing).
function New-UnmatchedError {
    param([string]$Class, [string]$Parameter, [string]$Value, [string]$Computer, [string]$Existing,
        [string[]]$Components)
    if ($Parameter -eq 'Name') {
        $message = Get-Message -Id AdapterNameUnmatched -Values $Value
        if ($Components -contains $Value) { $message += ' ' + (Get-Message -Id NameFirstPositional -Values $Value) }
        return New-ErrorRecord -Id AdapterNameUnmatched -Message ($message + $Existing) -Category ObjectNotFound `
            -Target $Value -Computer $Computer
    }
    $message = Get-Message -Id SelectorUnmatched -Values $Class, $Parameter, $Value
    if ($Class -eq 'Adapter' -and $Parameter -eq 'ComponentID') { $message += ' ' + (Get-Message -Id AdapterHint) }
    New-ErrorRecord -Id SelectorUnmatched -Message ($message + $Existing) -Category ObjectNotFound -Target $Value `
        -Computer $Computer
}

# The bindings that a selection names, from one listing on each machine at
# once: as they come, marked with PSComputerName where the machine is
# another; none that a failure left unknown. -Name stands for the adapters of
# those connection names on each machine. Each literal value that names
# nothing on a machine is an error for that machine; with -Change, so is a
# selection that names nothing at all.
# Failures are errors, each for its machine, and a listing that could not be
# made gives nothing at all. Identities gets each machine's identity, and
# Ambiguous the keys (Get-BindingKey) of the paths that ferrule cannot tell
# from another path of their listing.
function Get-Selected {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [string]$Class, [string[]]$ComponentID,
        [string[]]$Path, [string[]]$DisplayName, [string[]]$Name, [switch]$Change, [hashtable]$Listings,
        [hashtable]$Identities, [hashtable]$Ambiguous)
    $selectors = @{ ComponentID = $ComponentID; Path = $Path; DisplayName = $DisplayName; Name = $Name }
    $selection = "-Class $Class"
    foreach ($parameter in 'Name', 'ComponentID', 'Path', 'DisplayName') {
        if ($selectors[$parameter]) { $selection += " -$parameter $($selectors[$parameter] -join ',')" }
    }
    # A change lists the whole class: that listing is also the one before it,
    # against which what Windows changes beside it is found (Listings).
    $arguments = @('class', $script:ClassWords[$Class])
    $passed = @()
    if (-not $Change) {
        $listing = Get-ListingArgument -Class $Class -ComponentID $ComponentID -Path $Path
        $arguments = $listing.Arguments
        $passed = $listing.Passed
    }
    $commandLine = ConvertTo-CommandLine -ArgumentList $arguments
    # -DisplayName on adapters may name a bound component: its display name is in its own class's listing.
    $lines = @($commandLine)
    $bound = $Class -eq 'Adapter' -and $DisplayName
    if ($bound) {
        foreach ($other in 'Client', 'Protocol', 'Service') { $lines += ConvertTo-CommandLine -ArgumentList @('class',
            $script:ClassWords[$other]) }
    }
    $work = @{}
    foreach ($computer in (Get-SessionComputer -Session $Session)) { $work[$computer] = $lines }
    $machines = Invoke-Run -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Work $work `
        -WithAdapterNames:($Class -eq 'Adapter')
    foreach ($computer in (Get-SessionComputer -Session $Session)) {
        if (-not $machines.ContainsKey($computer)) { continue }
        $machine = $machines[$computer]
        if ($machine.Runs.Count -eq 0) { continue }
        $run = $machine.Runs[0]
        if (-not (Assert-Run -Cmdlet $Cmdlet -Run $run -Target $selection -Computer $computer)) { continue }
        $output = Read-Output -Lines $run.Lines -Class $Class -AdapterNames $machine.AdapterNames `
            -MachineId $machine.MachineId `
            -MachineName $machine.MachineName
        if ($null -ne $Identities) { $Identities[$computer] = $machine }
        if ($null -ne $Ambiguous) {
            foreach ($one in [Ferrule.Selection]::Ambiguous($output.Paths.ToArray([Ferrule.Binding]))) {
                $Ambiguous[(Get-BindingKey -Binding $one -Computer $computer)] = $true
            }
        }
        if ($computer) {
            foreach ($one in $output.Paths) { Add-Member -InputObject $one -NotePropertyName PSComputerName `
                -NotePropertyValue $computer }
        }
        if ($null -ne $Listings -and $arguments.Count -eq 2 -and $output.Failures.Count -eq 0) {
            if (-not $Listings.ContainsKey($Class)) { $Listings[$Class] = @{} }
            $Listings[$Class][$computer] = [Ferrule.Binding[]]$output.Paths.ToArray([Ferrule.Binding])
        }
        $selected = $output.Paths
        $unmatched = @()
        $boundNames = @{}
        if ($bound) {
            foreach ($other in @($machine.Runs | Select-Object -Skip 1)) {
                $names = (Read-Output -Lines $other.Lines -Class Protocol).DisplayNames
                foreach ($key in $names.Keys) { $boundNames[$key] = $names[$key] }
            }
        }
        $tests = @(Get-SelectionTest -Class $Class -Components $output.Components -Selectors $selectors `
                -Passed $passed -AdapterNames $output.DisplayNames -BoundNames $boundNames)
        if ($tests.Count -gt 0) {
            $result = Select-Binding -Bindings $output.Paths -Tests $tests
            $selected = $result.Selected
            $unmatched = $result.Unmatched
        }
        $written = @(foreach ($failure in $output.Failures) {
                if (-not (Test-UnknownNamed -Failure $failure -Tests $tests -Class $Class)) { continue }
                Write-Failure -Cmdlet $Cmdlet -Failure $failure -Target $selection -Computer $computer
                $failure
            })
        $selected
        if ($written.Count -gt 0) { continue }
        # What an error names besides, gathered only when there is one to say.
        $components = @(if ($unmatched.Count -gt 0) { foreach ($one in $output.Paths) { $one.ComponentID
                    [Ferrule.Binding]::BindNameOf($one) } })
        foreach ($miss in $unmatched) {
            $existing = Get-ExistingName -Class $Class -Parameter $miss.Parameter -Output $output `
                -AdapterNames $machine.AdapterNames
            $Cmdlet.WriteError((New-UnmatchedError -Class $Class -Parameter $miss.Parameter -Value $miss.Value `
                -Computer $computer -Existing $existing -Components $components))
        }
        if ($Change -and $selected.Count -eq 0 -and $unmatched.Count -eq 0) {
            $message = Get-Message -Id SelectionUnmatched -Values $selection
            if ($Class -eq 'Adapter' -and $ComponentID) { $message += ' ' + (Get-Message -Id AdapterHint) }
            $record = New-ErrorRecord -Id SelectionUnmatched -Message $message -Category ObjectNotFound `
                -Target $selection `
                -Computer $computer
            $Cmdlet.WriteError($record)
        }
    }
}

# Whether a selection (Tests, of Class) may name what a listing's failure
# left unknown: the path whose state was not read, where it names that path;
# a component's paths, where its -ComponentID names the component (on the
# Adapter class a component bound to an adapter may be meant, and can be
# told only from the paths); the class, and any other failure, always.
function Test-UnknownNamed {
    param($Failure, [object[]]$Tests, [string]$Class)
    if ($Tests.Count -eq 0 -or -not $Failure.Unknown -or $Failure.Unknown -eq 'Class') { return $true }
    if ($Failure.Unknown -eq 'Path') {
        return @((Select-Binding -Bindings @($Failure.Binding) -Tests $Tests).Selected).Count -gt 0
    }
    $components = @(foreach ($test in $Tests) { if ($test.Parameter -eq 'ComponentID') { $test } })
    if ($Class -eq 'Adapter' -or $components.Count -eq 0) { return $true }
    foreach ($matcher in $components[0].Matchers) {
        if ($null -eq $matcher -or $matcher.Regex.IsMatch([string]$Failure.ComponentID)) { return $true }
    }
    $false
}
