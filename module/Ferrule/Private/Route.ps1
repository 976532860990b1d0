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

# Whether a row's identity (MachineId, and MachineName where it has one) is a
# machine's (Identity, as Invoke-Run read it).
function Test-SameMachine {
    param($Want, $Identity)
    if ($null -eq $Identity -or -not $Identity.MachineId) { return $false }
    if (-not [string]::Equals([string]$Want.MachineId, [string]$Identity.MachineId,
        [StringComparison]::OrdinalIgnoreCase)) {
        return $false
    }
    -not $Want.MachineName -or [string]::Equals([string]$Want.MachineName, [string]$Identity.MachineName,
        [StringComparison]::OrdinalIgnoreCase)
}

# Each row's machines. A row with a MachineId goes to the machine of that
# identity alone (Identities: each machine's, by computer name), whatever its
# PSComputerName; without one, to the machine its PSComputerName names (with
# -Session, an error where no session reaches it; without, this machine's
# only); a row that names no machine goes to every machine. Where it goes to
# none, an error says why.
function Get-RowComputer {
    param($Cmdlet, [object[]]$Session, $Want, [hashtable]$Identities)
    $computers = Get-SessionComputer -Session $Session
    $label = "$($Want.ComponentID): $($Want.Path)"
    if ($Want.MachineId) {
        foreach ($computer in $computers) {
            if (Test-SameMachine -Want $Want -Identity $Identities[$computer]) { return $computer }
        }
        $values = $label, $Want.MachineName, $Want.MachineId
        if (-not $Session) {
            $record = New-ErrorRecord -Id RowOfAnotherMachineById -Values $values -Category InvalidArgument `
                -Target $Want.Source
        } else {
            $record = New-ErrorRecord -Id NoSessionForMachine -Values $values -Category ObjectNotFound `
                -Target $Want.Source
        }
        $Cmdlet.WriteError($record)
        return
    }
    if (-not $Want.Computer) { return $computers }
    if (-not $Session) {
        if (Test-ThisComputer -Name $Want.Computer) { return '' }
        $record = New-ErrorRecord -Id RowOfAnotherMachine -Values $label, $Want.Computer -Category InvalidArgument `
            -Target $Want.Source
        $Cmdlet.WriteError($record)
        return
    }
    if ($computers -notcontains $Want.Computer) {
        $record = New-ErrorRecord -Id NoSessionForComputer -Values $label, $Want.Computer -Category ObjectNotFound `
            -Target $Want.Source
        $Cmdlet.WriteError($record)
        return
    }
    $Want.Computer
}

# Each row with the machines it goes to; a row that goes to none is an error
# (Get-RowComputer says why), and is left out. Rows that name one machine
# alike (most of a saved baseline's: a machine's every path) go where the
# first of them went, found once, not by a function call a row.
function Get-RowRoute {
    param($Cmdlet, [object[]]$Session, [object[]]$Wanted, [hashtable]$Identities)
    $found = @{}
    foreach ($want in $Wanted) {
        $key = "$($want.MachineId)`n$($want.MachineName)`n$($want.Computer)"
        $targets = $found[$key]
        if ($null -eq $targets) {
            $targets = @(Get-RowComputer -Cmdlet $Cmdlet -Session $Session -Want $want -Identities $Identities)
            # One that goes nowhere is asked again, for each row's own error.
            if ($targets.Count -gt 0) { $found[$key] = $targets }
        }
        if ($targets.Count -gt 0) { @{ Want = $want; Computers = $targets } }
    }
}
