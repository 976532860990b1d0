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

# Whether a computer name is this machine's: its name, its FQDN, localhost,
# ., a loopback address, or an address that one of its interfaces carries.
function Test-ThisComputer {
    param([string]$Name)
    $address = $null
    if ([Net.IPAddress]::TryParse($Name, [ref]$address) -and [Net.IPAddress]::IsLoopback($address)) { return $true }
    $names = @('localhost', '.', '127.0.0.1', '::1', [Environment]::MachineName)
    try { $names += [Net.Dns]::GetHostEntry('').HostName } catch { $names += @() }
    try {
        foreach ($interface in [Net.NetworkInformation.NetworkInterface]::GetAllNetworkInterfaces()) {
            foreach ($unicast in $interface.GetIPProperties().UnicastAddresses) {
                $names += ([string]$unicast.Address).Split('%')[0]
            }
        }
    } catch {
        $names += @()
    }
    $names -contains $Name
}

# Each row's machines: the one its PSComputerName names, with -Session (an
# error where no session reaches it); without one, every session's; without
# sessions, this machine's, and a row of another machine is an error.
function Get-RowComputer {
    param($Cmdlet, [object[]]$Session, $Want)
    $computers = Get-SessionComputer -Session $Session
    $label = "$($Want.ComponentID): $($Want.Path)"
    if (-not $Want.Computer) { return $computers }
    if (-not $Session) {
        if (Test-ThisComputer -Name $Want.Computer) { return '' }
        $message = "$($Want.Computer): $label is a row of another machine, and is not changed here: give a -Session that reaches $($Want.Computer)."
        $Cmdlet.WriteError((New-ErrorRecord -Message $message -Category InvalidArgument -Target $Want.Source))
        return
    }
    if ($computers -notcontains $Want.Computer) {
        $message = "No session reaches $($Want.Computer) for $label."
        $Cmdlet.WriteError((New-ErrorRecord -Message $message -Category ObjectNotFound -Target $Want.Source))
        return
    }
    $Want.Computer
}

# Each row with the machines it goes to; a row that goes to none is an error
# (Get-RowComputer says why), and is left out.
function Get-RowRoute {
    param($Cmdlet, [object[]]$Session, [object[]]$Wanted)
    foreach ($want in $Wanted) {
        $targets = @(Get-RowComputer -Cmdlet $Cmdlet -Session $Session -Want $want)
        if ($targets.Count -gt 0) { @{ Want = $want; Computers = $targets } }
    }
}

# What the rows routed to one machine name in its listings (Listings: its
# bindings by class). Chosen: by class, component and path, the binding and
# the last row that names it. Missing: the literal rows that name no path. A
# row whose ComponentID and Path are both literal names that path alone (a
# saved row: its Name only describes it), found in an index of its class's
# listing without a function call a row, since a baseline may have a row for
# every path; any other row is a rule, which names every path that all its
# selectors match, and may name none.
function Resolve-Row {
    param([object[]]$Routes, [string]$Computer, [hashtable]$Listings)
    $chosen = [ordered]@{}
    $missing = New-Object System.Collections.ArrayList
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
            $found = @($indexes[$want.Class]["$($want.ComponentID)`n$($want.Path)"] | Where-Object { $null -ne $_ })
            if ($found.Count -eq 0) { [void]$missing.Add($want) }
        } else {
            $found = @(Find-RuleBinding -Want $want -Bindings $bindings)
        }
        foreach ($one in $found) { $chosen["$($one.Class)`n$($one.ComponentID)`n$($one.Path)"] = @{ Binding = $one; Want = $want } }
    }
    [pscustomobject]@{ Chosen = $chosen; Missing = $missing.ToArray() }
}

# Bindings named by rows (objects from the pipeline, a file or another
# session), each with the state wanted, found in a fresh listing of its class
# on each of its machines (Resolve-Row) and then changed there where the
# state differs. A literal row that names no path is an error; a rule that
# names none is not.
function Invoke-Wanted {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [object[]]$Wanted, [switch]$PassThru, [switch]$Force)
    $routes = @(Get-RowRoute -Cmdlet $Cmdlet -Session $Session -Wanted $Wanted)
    $classes = [ordered]@{}
    foreach ($route in $routes) { $classes[$route.Want.Class] = $true }
    # Each machine's bindings by class, as listed (a listing with a failure
    # gives the paths it could read).
    $byComputer = @{}
    $listings = @{}
    foreach ($class in $classes.Keys) {
        foreach ($one in @(Get-Selected -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Class $class -Listings $listings)) {
            $computer = Get-ComputerOf -Binding $one
            if (-not $byComputer.ContainsKey($computer)) { $byComputer[$computer] = @{} }
            if (-not $byComputer[$computer].ContainsKey($class)) { $byComputer[$computer][$class] = New-Object System.Collections.ArrayList }
            [void]$byComputer[$computer][$class].Add($one)
        }
    }
    $items = [ordered]@{}
    foreach ($computer in (Get-SessionComputer -Session $Session)) {
        $listed = @{}
        if ($byComputer.ContainsKey($computer)) {
            foreach ($class in $byComputer[$computer].Keys) { $listed[$class] = $byComputer[$computer][$class].ToArray() }
        }
        $resolved = Resolve-Row -Routes $routes -Computer $computer -Listings $listed
        foreach ($want in $resolved.Missing) {
            $record = New-ErrorRecord -Message "No binding path $($want.ComponentID): $($want.Path) of class $($want.Class)." `
                -Category ObjectNotFound -Target $want.Source -Computer $computer
            $Cmdlet.WriteError($record)
        }
        foreach ($key in $resolved.Chosen.Keys) {
            $entry = $resolved.Chosen[$key]
            $items["$computer`n$key"] = @{ Current = $entry.Binding; Enabled = $entry.Want.Enabled; Computer = $entry.Want.Computer }
        }
    }
    Invoke-Change -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Items @($items.Values) -PassThru:$PassThru `
        -Force:$Force -Listings $listings
}

# The bindings of one machine's listing that a rule names.
function Find-RuleBinding {
    param($Want, $Bindings)
    $selectors = @{ ComponentID = @($Want.ComponentID | Where-Object { $_ }); Path = @($Want.Path | Where-Object { $_ })
        Name = @($Want.Name | Where-Object { $_ })
    }
    $components = [Ferrule.Selection]::Components([Ferrule.Binding[]]@($Bindings))
    $tests = @(Get-SelectionTest -Class $Want.Class -Components $components -Selectors $selectors)
    (Select-Binding -Bindings $Bindings -Tests $tests).Selected
}

# What one row asks for, or $null (and an error) when its Class or Enabled
# cannot be read, or it selects nothing. An empty cell (Import-Csv gives '')
# is a selector not given; DisplayName never selects.
function ConvertTo-Wanted {
    param($Cmdlet, $Item, $Enabled)
    $class = ConvertTo-Class -Value $Item.Class
    $state = ConvertTo-State -Value $Enabled
    if ($null -eq $class -or $null -eq $state) {
        $message = "Class must be Adapter, Client, Protocol or Service, and Enabled True or False, not '$($Item.Class)' and '$Enabled'."
        $Cmdlet.WriteError((New-ErrorRecord -Message $message -Category InvalidArgument -Target $Item))
        return
    }
    # Made without a function call a row: a baseline may have a row for every path.
    $given = @{}
    $properties = $Item.PSObject.Properties
    foreach ($parameter in 'ComponentID', 'Path', 'Name') {
        $property = $properties[$parameter]
        if ($property -and [string]$property.Value) { $given[$parameter] = [string]$property.Value }
    }
    $problem = $null
    if ($given.Count -eq 0) { $problem = 'names no ComponentID, Path or Name, and so no path' }
    $literal = $given.ContainsKey('ComponentID') -and $given.ContainsKey('Path') -and
        -not [System.Management.Automation.WildcardPattern]::ContainsWildcardCharacters($given.ComponentID) -and
        -not [System.Management.Automation.WildcardPattern]::ContainsWildcardCharacters($given.Path)
    if (-not $literal -and $given.ContainsKey('Name') -and $class -ne 'Adapter') { $problem = "names adapters (Name) but is of class $class" }
    if ($problem) {
        $Cmdlet.WriteError((New-ErrorRecord -Message "A row $problem." -Category InvalidArgument -Target $Item))
        return
    }
    $computer = $properties['PSComputerName']
    [pscustomobject]@{
        Class = $class; ComponentID = $given['ComponentID']; Path = $given['Path']; Name = $given['Name']; Enabled = $state
        Computer = $(if ($computer -and $computer.Value) { [string]$computer.Value } else { '' }); Literal = $literal; Source = $Item
    }
}
