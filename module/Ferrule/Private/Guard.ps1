# The guard: a machine reached through a session (PowerShell remoting, SSH,
# RDP) must not be cut off by the change that the session carries.

# Whether this process runs in a session from another machine: a remote
# runspace (Invoke-Command, Enter-PSSession), an SSH login, or an RDP session
# of its own. A process in none (SYSTEM under Intune, a console) is not
# guarded, even while someone else is logged on over RDP.
function Test-RemoteSession {
    $sender = Get-Variable -Name PSSenderInfo -Scope Global -ValueOnly -ErrorAction Ignore
    [bool]($sender -or $env:SSH_CONNECTION -or $env:SESSIONNAME -like 'RDP-*')
}

# Whether a step's change is one the guard looks at: on an adapter, disabling
# IPv4 or IPv6, or changing a binding of a component that carries other
# adapters (enabling one unbinds TCP/IP from the adapter beneath it).
function Test-GuardedStep {
    param([Ferrule.ChangeStep]$Step)
    $binding = $Step.Binding
    if ($binding.Class -ne 'Adapter' -or $binding.Enabled -eq $Step.Wanted) { return $false }
    $first = $binding.ComponentID
    ($script:CarrierComponents -contains $first) -or (-not $Step.Wanted -and $script:GuardedProtocols -contains $first)
}

# What the guard knows of each machine whose steps it looks at, by computer
# name (ManagementStep's answer, asked there): over sessions, of each of
# their machines; without, of this one when this process is in a session of
# its own. Empty where nothing is guarded.
function Get-GuardInfo {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [Ferrule.ChangeStep[]]$Steps)
    $found = @{}
    $computers = @{}
    foreach ($step in $Steps) {
        if (Test-GuardedStep -Step $step) { $computers[$step.Computer] = $true }
    }
    if ($computers.Count -eq 0) { return $found }
    if (-not $Session) {
        if (Test-RemoteSession) { $found[''] = & $script:ManagementStep }
        return $found
    }
    $sessions = @(foreach ($one in $Session) { if ($computers.ContainsKey($one.ComputerName)) { $one } })
    $answers = Invoke-FanOut -Cmdlet $Cmdlet -Session $sessions -ThrottleLimit $ThrottleLimit -Stage ProgressGuard `
        -Step $script:ManagementStep `
        -ArgumentsFor { , @() }
    foreach ($computer in $computers.Keys) {
        # A machine that did not answer is guarded as one whose session's adapter cannot be told.
        $found[$computer] = [pscustomobject]@{ Sessions = @([pscustomobject]@{ Address = $null; Protocol = $null;
            Guid = $null })
            Routes = @()
        }
        if ($answers.ContainsKey($computer) -and $answers[$computer]) { $found[$computer] = $answers[$computer] }
    }
    $found
}

# Why the guard refuses a step's change on its machine (Info, Get-GuardInfo's
# for it), or $null. Without -Force it refuses: disabling a session's
# protocol on the adapter that carries that session, on any adapter with a
# default route of that family (a VPN or a virtual switch may ride on it), or
# on any adapter at all where the session's adapter cannot be told; and
# changing a binding of the Hyper-V switch, the NIC team multiplexor or the
# bridge on a session's adapter, on an adapter with a default route, or on any
# adapter where a session's adapter cannot be told.
function Get-GuardRefusal {
    param($Info, [Ferrule.ChangeStep]$Step)
    if ($null -eq $Info -or -not (Test-GuardedStep -Step $Step)) { return $null }
    $binding = $Step.Binding
    $Computer = $Step.Computer
    $first = $binding.ComponentID
    $adapter = ([string]$binding.InterfaceGuid).Trim('{}')
    $machine = $(if ($Computer) { $Computer } else { [Environment]::MachineName })
    $routed = @(foreach ($route in @($Info.Routes)) {
            if ($route -and $route.Guid -and $route.Guid.Trim('{}') -eq $adapter) { $route.Protocol }
        })
    $carrier = $script:CarrierComponents -contains $first
    foreach ($one in @($Info.Sessions)) {
        if ($null -eq $one) { continue }
        $address = $(if ($one.Address) { $one.Address } else { Get-Message -Id GuardNoAddress })
        $reach = Get-Message -Id GuardSession -Values $machine, $address
        if (-not $carrier -and $one.Protocol -and $one.Protocol -ne $first) { continue }
        if (-not $one.Guid) { return Get-Message -Id GuardCannotTell -Values $reach, $first }
        if ($one.Guid.Trim('{}') -eq $adapter) {
            if ($carrier) { return Get-Message -Id GuardCarrierOnSession -Values $reach, $first }
            return Get-Message -Id GuardProtocolOnSession -Values $reach, $first
        }
        if ($carrier -and $routed.Count -gt 0) { return Get-Message -Id GuardCarrierOnRoute -Values $reach, $first }
        if ($routed -contains $first) { return Get-Message -Id GuardProtocolOnRoute -Values $reach, $first }
    }
    $null
}
