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

# Whether a value reaches ferrule whole: a command line ends at a NUL, and
# Windows takes 32,767 characters in all (two values of 4,096, each at most
# twice as long quoted, leave room for the rest); a longer value, which no
# bind name or path is, would keep ferrule from starting at all.
function Test-Passable {
    param([string]$Value)
    $Value.Length -le 4096 -and $Value.IndexOf([char]0) -lt 0
}

# The words that narrow a listing of Class (Narrow, after its class words),
# and which selectors they gave ferrule to compare (Passed): ferrule
# compares a single value without wildcards itself (as Windows compares
# names), where it can be given it whole; anything else is filtered here. On
# the Adapter class a component may be an adapter or a component bound to
# one, so the whole class is listed.
function Get-ListingArgument {
    param([string]$Class, [string[]]$ComponentID, [string[]]$Path)
    $narrow = @()
    $passed = @()
    if ($Class -ne 'Adapter' -and (Test-Literal -Values $ComponentID) -and (Test-Passable -Value $ComponentID[0])) {
        $narrow += 'comp', $ComponentID[0]
        $passed += 'ComponentID'
    }
    if ((Test-Literal -Values $Path) -and (Test-Passable -Value $Path[0])) {
        $narrow += 'path', $Path[0]
        $passed += 'Path'
    }
    [pscustomobject]@{ Narrow = $narrow; Passed = $passed }
}

# A wildcard as a regular expression: * and ?, every other character itself,
# to the value's end (\z: $ would take a value with a line feed more). The
# text between two stars is taken where it first fits, and kept there (an
# atomic group): wherever a match of the rest starts, it can start there, and
# the time a match takes stays within the value's length times the
# pattern's, where stars that give back what they took try every split of
# the value (*a*a*a*a*a*a*b took 8 seconds on 60 a's, and each star more
# many times that).
function ConvertTo-WildcardRegex {
    param([string]$Pattern)
    $parts = @(foreach ($part in ($Pattern -split '\*+')) { [regex]::Escape($part).Replace('\?', '.') })
    $expression = $parts[0]
    for ($i = 1; $i -lt $parts.Count - 1; $i++) { $expression += '(?>.*?' + $parts[$i] + ')' }
    if ($parts.Count -gt 1) { $expression += '.*' + $parts[-1] }
    $options = [System.Text.RegularExpressions.RegexOptions]'IgnoreCase, Singleline, CultureInvariant'
    New-Object System.Text.RegularExpressions.Regex ('^' + $expression + '\z'), $options
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
    foreach ($parameter in 'Name', 'ComponentID', 'Path', 'DisplayName', 'InterfaceGuid') {
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
                        ')\z'), 'IgnoreCase, CultureInvariant'
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
