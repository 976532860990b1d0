# Routing rows to machines: by identity, or by computer name.

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

# Whether a name is, case aside, the same as another.
function Test-SameName {
    param([string]$Name, [string]$Other)
    [string]::Equals($Name, $Other, [StringComparison]::OrdinalIgnoreCase)
}

# Whether a computer name is that of Computer, a session's ('' for this
# machine, whose own names are its computer's).
function Test-ComputerName {
    param([string]$Name, [string]$Computer)
    if ($Computer) { return Test-SameName -Name $Name -Other $Computer }
    Test-ThisComputer -Name $Name
}

# Whether every name that a row gives its machine (Machine, a
# Ferrule.RowMachine) is that of the machine of Computer, whose identity the
# listings read (Identity): MachineId and MachineName are its identity's,
# PSComputerName and ComputerName the computer's name, and SystemName (the
# name Windows gives itself there) either.
function Test-RowMachine {
    param($Machine, [string]$Computer, $Identity)
    $id = $(if ($Identity) { [string]$Identity.MachineId } else { '' })
    $own = $(if ($Identity) { [string]$Identity.MachineName } else { '' })
    if ($Machine.MachineId -and -not ($id -and (Test-SameName -Name $Machine.MachineId -Other $id))) { return $false }
    if ($Machine.MachineName -and -not ($own -and (Test-SameName -Name $Machine.MachineName -Other $own))) {
        return $false
    }
    foreach ($name in @($Machine.PSComputerName, $Machine.ComputerName)) {
        if ($name -and -not (Test-ComputerName -Name $name -Computer $Computer)) { return $false }
    }
    if (-not $Machine.SystemName -or ($own -and (Test-SameName -Name $Machine.SystemName -Other $own))) { return $true }
    Test-ComputerName -Name $Machine.SystemName -Computer $Computer
}

# The machines of the computers (Identities: each one's identity) whose every
# name a row gives (Machine) names.
function Find-RowMachine {
    param($Machine, [string[]]$Computers, [hashtable]$Identities)
    foreach ($computer in $Computers) {
        if (Test-RowMachine -Machine $Machine -Computer $computer -Identity $Identities[$computer]) { $computer }
    }
}

# The name to say of a row's machine that no machine is: the first of its
# computer names and machine names that names none of them alone, else the
# first it gives.
function Get-RowMachineName {
    param($Machine, [string[]]$Computers, [hashtable]$Identities)
    $names = @(foreach ($property in 'PSComputerName', 'ComputerName', 'MachineName', 'SystemName') {
            if ($Machine.$property) { $property }
        })
    foreach ($property in $names) {
        $alone = New-Object Ferrule.RowMachine
        $alone.$property = $Machine.$property
        if (@(Find-RowMachine -Machine $alone -Computers $Computers -Identities $Identities).Count -eq 0) {
            return $Machine.$property
        }
    }
    $Machine.($names[0])
}

# Whether the identity that a row gives (its MachineId, and its MachineName
# where it has one) is that of one of the computers' machines.
function Test-IdentityFound {
    param($Machine, [string[]]$Computers, [hashtable]$Identities)
    $identity = New-Object Ferrule.RowMachine
    $identity.MachineId = $Machine.MachineId
    $identity.MachineName = $Machine.MachineName
    @(Find-RowMachine -Machine $identity -Computers $Computers -Identities $Identities).Count -gt 0
}

# The error for a row whose identity is no machine's: none of the sessions',
# or without -Session, not this machine's.
function New-IdentityError {
    param($Want, [object[]]$Session)
    $values = "$($Want.ComponentID): $($Want.Path)", $Want.Machine.MachineName, $Want.Machine.MachineId
    if ($Session) {
        return New-ErrorRecord -Id NoSessionForMachine -Values $values -Category ObjectNotFound -Target $Want.Source
    }
    New-ErrorRecord -Id RowOfAnotherMachineById -Values $values -Category InvalidArgument -Target $Want.Source
}

# The machine a row goes to: the one machine that its every name names
# (MachineId, MachineName, SystemName, PSComputerName, ComputerName; with
# -Session, an error where no session reaches it; without, an error unless
# it is this machine); a row that names no machine goes to every machine.
# Where it goes to none, an error says why.
function Get-RowComputer {
    param($Cmdlet, [object[]]$Session, $Want, [hashtable]$Identities)
    $computers = Get-SessionComputer -Session $Session
    $machine = $Want.Machine
    if (-not $machine.Named) { return $computers }
    $found = @(Find-RowMachine -Machine $machine -Computers $computers -Identities $Identities)
    if ($found.Count -eq 1) { return $found[0] }
    $label = "$($Want.ComponentID): $($Want.Path)"
    if ($found.Count -gt 1) {
        $record = New-ErrorRecord -Id RowMachineAmbiguous -Values $label, ($found -join ', ') `
            -Category InvalidArgument -Target $Want.Source
    } elseif ($machine.MachineId -and -not (Test-IdentityFound -Machine $machine -Computers $computers `
            -Identities $Identities)) {
        $record = New-IdentityError -Want $Want -Session $Session
    } else {
        $name = Get-RowMachineName -Machine $machine -Computers $computers -Identities $Identities
        if ($Session) {
            $record = New-ErrorRecord -Id NoSessionForComputer -Values $label, $name -Category ObjectNotFound `
                -Target $Want.Source
        } else {
            $record = New-ErrorRecord -Id RowOfAnotherMachine -Values $label, $name -Category InvalidArgument `
                -Target $Want.Source
        }
    }
    $Cmdlet.WriteError($record)
}

# Each row with the machines it goes to; a row that goes to none is an error
# (Get-RowComputer says why), and is left out. Rows that name one machine
# alike (most of a saved baseline's: a machine's every path) go where the
# first of them went, found once, not by a function call a row.
function Get-RowRoute {
    param($Cmdlet, [object[]]$Session, [object[]]$Wanted, [hashtable]$Identities)
    $found = New-Object 'System.Collections.Generic.Dictionary[Ferrule.RowMachine,object[]]'
    foreach ($want in $Wanted) {
        $targets = [object[]]@()
        if (-not $found.TryGetValue($want.Machine, [ref]$targets)) {
            $targets = [object[]]@(Get-RowComputer -Cmdlet $Cmdlet -Session $Session -Want $want `
                    -Identities $Identities)
            # One that goes nowhere is asked again, for each row's own error.
            if ($targets.Count -gt 0) { $found[$want.Machine] = $targets }
        }
        if ($targets.Count -gt 0) { @{ Want = $want; Computers = $targets } }
    }
}
