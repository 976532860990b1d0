# Rows: objects that name paths and the states wanted for them (saved bindings,
# rows of a file, hand-written rules), routed to their machines and found there.

# Reads Enabled as a [bool] parameter would, and also as the text that
# Import-Csv gives; $null for anything else.
function ConvertTo-State {
    param($Value)
    if ($Value -is [bool]) { return $Value }
    $text = [string]$Value
    if ($text -eq 'True') { return $true }
    if ($text -eq 'False') { return $false }
    $null
}

# A class by its name or by ferrule's word for it; $null for anything else.
function ConvertTo-Class {
    param([string]$Value)
    foreach ($class in $script:ClassWords.Keys) {
        if ($Value -eq $class -or $Value -eq $script:ClassWords[$class]) { return $class }
    }
    $null
}

# What the rows routed to one machine name in its listings (Listings: its
# bindings by class). Chosen: by class, component and path, the binding and
# the last row that names it. Missing: the literal rows that name no path. A
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
        foreach ($one in $found) { $chosen["$($one.Class)`n$($one.ComponentID)`n$($one.Path)"] = @{ Binding = $one;
            Want = $want } }
    }
    [pscustomobject]@{ Chosen = $chosen; Missing = $missing.ToArray(); Unmatched = $unmatched.ToArray() }
}

# Bindings named by rows (objects from the pipeline, a file or another
# session), each with the state wanted, found in a fresh listing of its class
# on each machine, routed to their machines (Get-RowRoute) and resolved there
# (Resolve-Row), then changed where the state differs. A literal row that
# names no path is an error; a rule that names none is a warning, unless it
# is Optional.
function Invoke-Wanted {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [object[]]$Wanted, [switch]$PassThru, [switch]$Force)
    $classes = [ordered]@{}
    foreach ($want in $Wanted) { $classes[$want.Class] = $true }
    # Each machine's bindings by class, as listed (a listing with a failure
    # gives the paths it could read), and its identity.
    $byComputer = @{}
    $listings = @{}
    $identities = @{}
    $ambiguous = @{}
    foreach ($class in $classes.Keys) {
        $listed = @(Get-Selected -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Class $class `
            -Listings $listings `
                -Identities $identities -Ambiguous $ambiguous)
        foreach ($one in $listed) {
            $computer = Get-ComputerOf -Binding $one
            if (-not $byComputer.ContainsKey($computer)) { $byComputer[$computer] = @{} }
            if (-not $byComputer[$computer].ContainsKey($class)) {
                $byComputer[$computer][$class] = New-Object System.Collections.ArrayList
            }
            [void]$byComputer[$computer][$class].Add($one)
        }
    }
    $routes = @(Get-RowRoute -Cmdlet $Cmdlet -Session $Session -Wanted $Wanted -Identities $identities)
    $items = [ordered]@{}
    foreach ($computer in (Get-SessionComputer -Session $Session)) {
        $listed = @{}
        if ($byComputer.ContainsKey($computer)) {
            foreach ($class in $byComputer[$computer].Keys) {
                $listed[$class] = $byComputer[$computer][$class].ToArray() }
        }
        $resolved = Resolve-Row -Routes $routes -Computer $computer -Listings $listed
        # Where a listing failed (its error is given), no row is said to name nothing.
        $whole = @{}
        foreach ($class in $classes.Keys) { $whole[$class] = $listings.ContainsKey($class) -and
            $listings[$class].ContainsKey($computer) }
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
        foreach ($key in $resolved.Chosen.Keys) {
            $entry = $resolved.Chosen[$key]
            $items["$computer`n$key"] = @{ Current = $entry.Binding; Enabled = $entry.Want.Enabled;
                Computer = $entry.Want.Computer }
        }
    }
    Invoke-Change -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Items @($items.Values) `
        -PassThru:$PassThru `
        -Force:$Force -Listings $listings -Ambiguous $ambiguous
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

# The properties a row may have, as the row reader reads them.
$script:RowProperties = @('Class', 'ComponentID', 'Path', 'Name', 'InterfaceAlias', 'Enabled', 'Optional',
    'PSComputerName',
    'MachineId', 'MachineName')

# The row reader: what one row asks for, or $null (and an InvalidArgument
# error whose target is the row) when it cannot be read. A row is an object
# or a hashtable with Class, ComponentID, Path, Name, Enabled, Optional, and
# the machine it is of (PSComputerName, MachineId, MachineName); an object of
# Get-NetAdapterBinding (known by its properties, so that its deserialized
# form and its CSV export count too: Name or InterfaceAlias, ComponentID and
# Enabled, with no Class) is an Adapter row of the component bound to that
# connection. An empty cell (Import-Csv gives '') is a selector not given;
# DisplayName never selects. A row must give a ComponentID or a Path, and a
# Class, unless it has the cmdlets' shape: nothing is filled in for it. State
# is the state wanted (Disable and Enable), else the row's Enabled.
function ConvertTo-Wanted {
    param($Cmdlet, $Item, $State)
    # Read without a function call a property: a baseline may have a row for every path.
    $row = @{}
    if ($Item -is [System.Collections.IDictionary]) {
        foreach ($property in $script:RowProperties) { if ($Item.Contains($property)) {
            $row[$property] = $Item[$property] } }
    } elseif ($null -ne $Item) {
        $properties = $Item.PSObject.Properties
        foreach ($property in $script:RowProperties) {
            $one = $properties[$property]
            if ($one) { $row[$property] = $one.Value }
        }
    }
    $given = @{}
    foreach ($property in 'ComponentID', 'Path', 'Name', 'InterfaceAlias', 'PSComputerName', 'MachineId',
        'MachineName') {
        if ($row.ContainsKey($property) -and [string]$row[$property]) { $given[$property] = [string]$row[$property] }
    }
    # Problem: the ID of why it cannot be read, and the value it names.
    $class = $null
    $problem = $null
    if ($row.ContainsKey('Class') -and [string]$row['Class']) {
        $class = ConvertTo-Class -Value $row['Class']
        if (-not $class) { $problem = 'RowClassUnknown', $row['Class'] }
    } elseif (($given.ContainsKey('Name') -or $given.ContainsKey('InterfaceAlias')) -and
        $given.ContainsKey('ComponentID') -and
        $row.ContainsKey('Enabled')) {
        # Get-NetAdapterBinding's shape: Name is the connection name, ComponentID the bound component.
        $class = 'Adapter'
        if (-not $given.ContainsKey('Name')) { $given['Name'] = $given['InterfaceAlias'] }
    } else {
        $problem = 'RowClassMissing', $null
    }
    if ($null -eq $State) { $State = ConvertTo-State -Value $row['Enabled'] }
    $optional = $false
    if ($row.ContainsKey('Optional') -and $null -ne $row['Optional'] -and [string]$row['Optional']) {
        $optional = ConvertTo-State -Value $row['Optional']
        if ($null -eq $optional -and -not $problem) { $problem = 'RowOptionalUnreadable', $row['Optional'] }
    }
    if (-not $problem -and $null -eq $State) {
        $problem = 'RowEnabledUnreadable', $row['Enabled']
    }
    $literal = $given.ContainsKey('ComponentID') -and $given.ContainsKey('Path') -and
        -not [System.Management.Automation.WildcardPattern]::ContainsWildcardCharacters($given.ComponentID) -and
        -not [System.Management.Automation.WildcardPattern]::ContainsWildcardCharacters($given.Path)
    if (-not $problem -and -not $given.ContainsKey('ComponentID') -and -not $given.ContainsKey('Path')) {
        $problem = 'RowNamesNoPath', $null
    }
    if (-not $problem -and -not $literal -and $given.ContainsKey('Name') -and $class -ne 'Adapter') {
        $problem = 'RowNameNotAdapter', $class
    }
    if ($problem) {
        $Cmdlet.WriteError((New-ErrorRecord -Id $problem[0] -Values $problem[1] -Category InvalidArgument `
            -Target $Item))
        return
    }
    [pscustomobject]@{
        Class = $class; ComponentID = $given['ComponentID']; Path = $given['Path']; Name = $given['Name'];
            Enabled = $State
        Optional = $optional; Computer = $(if ($given['PSComputerName']) { $given['PSComputerName'] } else { '' })
        MachineId = $given['MachineId']; MachineName = $given['MachineName']; Literal = $literal; Source = $Item
    }
}
