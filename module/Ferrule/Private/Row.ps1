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

# Bindings named by rows (objects from the pipeline, a file or another
# session), each with the state wanted, found in a fresh listing of its class
# on each of its machines and then changed there where the state differs. A
# row whose ComponentID and Path are both literal names that path alone (a
# saved row: its Name only describes it), and is an error where it names none;
# any other row is a rule, which names every path that all its selectors
# match, and may name none. Where rows name one path, the last one wins.
function Invoke-Wanted {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [object[]]$Wanted, [switch]$PassThru, [switch]$Force)
    $byClass = [ordered]@{}
    foreach ($want in $Wanted) {
        $targets = @(Get-RowComputer -Cmdlet $Cmdlet -Session $Session -Want $want)
        if ($targets.Count -eq 0) { continue }
        if (-not $byClass.Contains($want.Class)) { $byClass[$want.Class] = New-Object System.Collections.ArrayList }
        [void]$byClass[$want.Class].Add(@{ Want = $want; Computers = $targets })
    }
    $chosen = [ordered]@{}
    $listings = @{}
    foreach ($class in $byClass.Keys) {
        $listed = @{}
        foreach ($one in @(Get-Selected -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Class $class -Listings $listings)) {
            $computer = Get-ComputerOf -Binding $one
            if (-not $listed.ContainsKey($computer)) { $listed[$computer] = New-Object System.Collections.ArrayList }
            [void]$listed[$computer].Add($one)
        }
        $indexes = @{}
        $arrays = @{}
        foreach ($entry in $byClass[$class]) {
            $want = $entry.Want
            foreach ($computer in $entry.Computers) {
                if (-not $indexes.ContainsKey($computer)) {
                    $indexes[$computer] = @{}
                    $arrays[$computer] = [object[]]@()
                    if ($listed.ContainsKey($computer)) { $arrays[$computer] = $listed[$computer].ToArray() }
                }
                $bindings = $arrays[$computer]
                $found = @(Find-Wanted -Want $want -Bindings $bindings -Index $indexes[$computer])
                if ($found.Count -eq 0 -and $want.Literal) {
                    $record = New-ErrorRecord -Message "No binding path $($want.ComponentID): $($want.Path) of class $class." `
                        -Category ObjectNotFound -Target $want.Source -Computer $computer
                    $Cmdlet.WriteError($record)
                }
                foreach ($one in $found) {
                    $chosen["$computer`n$($one.ComponentID)`n$($one.Path)"] = @{ Current = $one; Enabled = $want.Enabled; Computer = $want.Computer }
                }
            }
        }
    }
    Invoke-Change -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Items @($chosen.Values) -PassThru:$PassThru `
        -Force:$Force -Listings $listings
}

# The bindings of one machine's listing that a row names. Index (a hashtable
# of the listing's bindings by ComponentID and Path, made here when empty)
# finds a literal row's path at once, however many rows a baseline has.
function Find-Wanted {
    param($Want, $Bindings, [hashtable]$Index = @{})
    if ($Want.Literal) {
        if ($Index.Count -eq 0) {
            foreach ($one in $Bindings) { if (-not $Index.ContainsKey("$($one.ComponentID)`n$($one.Path)")) { $Index["$($one.ComponentID)`n$($one.Path)"] = $one } }
        }
        return @($Index["$($Want.ComponentID)`n$($Want.Path)"] | Where-Object { $null -ne $_ })
    }
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
