# What runs on another machine, sent there as a script block: each block here
# stands alone, with named parameters of its own, and uses no function and no
# script variable of the module's (a test holds every block that travels to
# that), since none of them is there. A block says why it refuses as a reason
# (Id, a key of the module's messages, and its Values), which the module turns
# into its message here.
#
# The one way a step gets the other blocks it needs: its Blocks argument, the
# text of each block by name, as Get-RemoteBlock gives it (RunExe, StartExe
# and OutputCodePage of Process.ps1, AdapterNames and MachineArchitecture of
# Machine.ps1, WriteCheck here, every block of the seam (Ferrule.psm1), and
# the launcher's C#). A step makes a block with [scriptblock]::Create($Blocks.NAME)
# and calls it by its named parameters; RunExe takes the same Blocks. So the
# seam's blocks that run there are the caller's.
#
# On another machine the exe lives in a folder of the module's own: FERRULE_HOME
# where the machine's environment sets it, else Blocks.HomeFolder's. A command
# goes there in three steps: Probe, then Copy where the exe there is missing or
# another, then Run.

# Why the exe at Path, or its folder, may not be used (a reason), or $null.
# Neither may be a reparse point (a junction, a link), and the folder may hold
# nothing but the exe and what this module's own interrupted copies left
# (NAME.<random>, owned as the exe must be). Every folder above may be no
# reparse point either. Who owns each and who may write it is
# Blocks.FileOwnerCheck's to say: for the exe and its folder, whether any but
# their owners may write them (ExeWritable); for a folder above, whether any
# but its owners may replace what is in it (ExeParentWritable: delete child,
# write DAC, write owner, generic write or all; to create folders is not one:
# C:\ gives that to Authenticated Users).
$script:WriteCheck = {
    param([string]$Path, [hashtable]$Blocks)
    $folder = Split-Path -Parent $Path
    $name = Split-Path -Leaf $Path
    # Write, Delete, DeleteSubdirectoriesAndFiles, ChangePermissions, TakeOwnership, GENERIC_ALL, GENERIC_WRITE.
    $writing = 0x116 -bor 0x10000 -bor 0x40 -bor 0x40000 -bor 0x80000 -bor 0x10000000 -bor 0x40000000
    $replacing = 0x40 -bor 0x40000 -bor 0x80000 -bor 0x10000000 -bor 0x40000000
    $checks = @(@{ Path = $Path; Rights = $writing; Id = 'ExeWritable' }, @{ Path = $folder; Rights = $writing
            Id = 'ExeWritable' })
    for ($above = Split-Path -Parent $folder; $above; $above = Split-Path -Parent $above) {
        $checks += @{ Path = $above; Rights = $replacing; Id = 'ExeParentWritable' }
    }
    $ownership = [scriptblock]::Create($Blocks.FileOwnerCheck)
    # Why one file or folder may not be used, or $null.
    $refusal = {
        param([string]$Item, [int64]$Rights, [string]$Id)
        $found = Get-Item -LiteralPath $Item -Force
        if ($found.Attributes -band [IO.FileAttributes]::ReparsePoint) {
            return [pscustomobject]@{ Id = 'ExeReparsePoint'; Values = @($Item) }
        }
        & $ownership -Item $Item -Rights $Rights -Id $Id
    }
    # From the root down, so that the highest folder at fault is named.
    [array]::Reverse($checks)
    foreach ($check in $checks) {
        if (-not (Test-Path -LiteralPath $check.Path)) { continue }
        $refused = & $refusal -Item $check.Path -Rights $check.Rights -Id $check.Id
        if ($refused) { return $refused }
    }
    if (Test-Path -LiteralPath $folder -PathType Container) {
        $leftover = '^' + [regex]::Escape($name) + '\.[a-z0-9]{8}\.[a-z0-9]{3}$'
        foreach ($item in @(Get-ChildItem -LiteralPath $folder -Force)) {
            if ($item.Name -eq $name) { continue }
            $kept = $item.Name -match $leftover -and -not $item.PSIsContainer
            if (-not $kept -or (& $refusal -Item $item.FullName -Rights $writing -Id 'ExeWritable')) {
                return [pscustomobject]@{ Id = 'ExeFolderShared'; Values = @($folder, $item.Name) }
            }
        }
    }
    # Nothing, said as $null: a block that gives nothing gives AutomationNull, which would travel back as an
    # empty object.
    $null
}

# Why the file or folder Item may not be used for what its owner or a right
# to it allows (a reason, Id the one for a right of Rights), or $null (a block
# of the seam, Ferrule.psm1): it must be owned by Administrators, SYSTEM or
# TrustedInstaller, and only they (and CREATOR OWNER) may hold a right of
# Rights to it.
$script:HostSeam.FileOwnerCheck = {
    param([string]$Item, [int64]$Rights, [string]$Id)
    $owners = 'S-1-5-32-544', 'S-1-5-18', 'S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464'
    $acl = Get-Acl -LiteralPath $Item
    $sid = [Security.Principal.SecurityIdentifier]
    if ($owners -notcontains $acl.GetOwner($sid).Value) {
        return [pscustomobject]@{ Id = 'ExeOwnedBy'; Values = @($Item, [string]$acl.Owner) }
    }
    foreach ($rule in @($acl.GetAccessRules($true, $true, $sid))) {
        if ([string]$rule.AccessControlType -ne 'Allow' -or
            ([string]$rule.PropagationFlags).Contains('InheritOnly')) { continue }
        if (([int64]$rule.FileSystemRights -band $Rights) -eq 0) { continue }
        if ($owners -contains $rule.IdentityReference.Value -or $rule.IdentityReference.Value -eq 'S-1-3-0') {
            continue
        }
        $who = $rule.IdentityReference.Value
        try {
            $who = $rule.IdentityReference.Translate([Security.Principal.NTAccount]).Value
        } catch {
            $who = $rule.IdentityReference.Value
        }
        return [pscustomobject]@{ Id = $Id; Values = @($Item, $who) }
    }
    $null
}

# The exe's folder where the machine's environment names none (a block of the
# seam, Ferrule.psm1): Ferrule under Program Files, which only administrators
# can write.
$script:HostSeam.HomeFolder = {
    Join-Path $env:ProgramFiles 'Ferrule'
}

# The machine's architecture (Blocks.MachineArchitecture), its identity
# (Blocks.MachineIdentity), where the exe Name lives there, and the SHA-256 of
# the exe there (none when it is missing); or, through Blocks.WriteCheck, why
# that folder or exe is refused.
$script:ProbeStep = {
    param([string]$Name, [hashtable]$Blocks)
    $folder = $env:FERRULE_HOME
    if (-not $folder) { $folder = & ([scriptblock]::Create($Blocks.HomeFolder)) }
    $exe = Join-Path $folder $Name
    $refused = & ([scriptblock]::Create($Blocks.WriteCheck)) -Path $exe -Blocks $Blocks
    $hash = $null
    if (-not $refused -and (Test-Path -LiteralPath $exe)) { $hash = (Get-FileHash -Algorithm SHA256 `
        -LiteralPath $exe).Hash }
    $identity = & ([scriptblock]::Create($Blocks.MachineIdentity))
    $architecture = & ([scriptblock]::Create($Blocks.MachineArchitecture))
    [pscustomobject]@{ Architecture = $architecture; Hash = $hash; Path = $exe; Refused = $refused
        MachineId = $identity.MachineId; MachineName = $identity.MachineName
    }
}

# Makes the exe's folder at Path (Folder), or else opens a new file there for
# writing, shared with no one (CreateNew), and gives its stream; either is made
# with its security as it is made, never given it afterwards (a block of the
# seam, Ferrule.psm1): owned by Administrators (under "object creator" the
# default owner would be the connecting user), written by Administrators and
# SYSTEM alone.
$script:HostSeam.NewExeItem = {
    param([string]$Path, [bool]$Folder)
    $desktop = $PSVersionTable.PSEdition -ne 'Core'
    $administrators = New-Object System.Security.Principal.SecurityIdentifier 'S-1-5-32-544'
    $rules = @(@('S-1-5-32-544', 'FullControl'), @('S-1-5-18', 'FullControl'), @('S-1-5-32-545', 'ReadAndExecute'))
    $inheritance = 'None'
    if ($Folder) {
        $security = New-Object System.Security.AccessControl.DirectorySecurity
        $inheritance = 'ContainerInherit, ObjectInherit'
    } else {
        $security = New-Object System.Security.AccessControl.FileSecurity
    }
    $security.SetOwner($administrators)
    if ($Folder) { $security.SetAccessRuleProtection($true, $false) }
    foreach ($entry in $rules) {
        $who = New-Object System.Security.Principal.SecurityIdentifier $entry[0]
        $security.AddAccessRule((New-Object System.Security.AccessControl.FileSystemAccessRule ($who, $entry[1],
                    $inheritance, 'None', 'Allow')))
    }
    if ($Folder) {
        if ($desktop) {
            [void][IO.Directory]::CreateDirectory($Path, $security)
        } else {
            [IO.FileSystemAclExtensions]::Create((New-Object IO.DirectoryInfo $Path), $security)
        }
        return
    }
    if ($desktop) {
        return New-Object IO.FileStream -ArgumentList $Path, ([IO.FileMode]'CreateNew'),
            ([Security.AccessControl.FileSystemRights]'Write'), ([IO.FileShare]'None'), 4096, ([IO.FileOptions]'None'),
            $security
    }
    [IO.FileSystemAclExtensions]::Create((New-Object IO.FileInfo $Path), 'CreateNew', 'Write', 'None', 4096, 'None',
        $security)
}

# Writes the exe's bytes under a name no one can foresee beside Path (the
# probe's), then puts them in its place; first it removes what its own
# interrupted copies left there (which the probe's check let through). The
# folder, where it is missing, and the file are Blocks.NewExeItem's.
$script:CopyStep = {
    param([string]$Path, [byte[]]$Bytes, [hashtable]$Blocks)
    $folder = Split-Path -Parent $Path
    $name = Split-Path -Leaf $Path
    $temporary = Join-Path $folder ($name + '.' + [IO.Path]::GetRandomFileName())
    $make = [scriptblock]::Create($Blocks.NewExeItem)
    if (-not (Test-Path -LiteralPath $folder)) { $null = & $make -Path $folder -Folder $true }
    $leftover = '^' + [regex]::Escape($name) + '\.[a-z0-9]{8}\.[a-z0-9]{3}$'
    foreach ($item in @(Get-ChildItem -LiteralPath $folder -Force -File)) {
        if ($item.Name -match $leftover) { Remove-Item -LiteralPath $item.FullName -Force }
    }
    $file = & $make -Path $temporary -Folder $false
    try { $file.Write($Bytes, 0, $Bytes.Length) } finally { $file.Dispose() }
    Move-Item -Force -LiteralPath $temporary -Destination $Path
}

# Runs each command line with the exe at Path (Blocks.RunExe), each start
# only with an exe whose SHA-256 is Hash, and none where Blocks.WriteCheck
# refuses the folder or the exe; and gives, -WithAdapterNames, the adapters'
# names (Blocks.AdapterNames).
$script:RunStep = {
    param([string]$Path, [string]$Hash, [string[]]$CommandLines, [int[]]$StopAt, [hashtable]$Blocks,
        [bool]$WithAdapterNames)
    $refused = & ([scriptblock]::Create($Blocks.WriteCheck)) -Path $Path -Blocks $Blocks
    if ($refused) { return [pscustomobject]@{ Refused = $refused } }
    $run = @{ Path = $Path; CommandLines = $CommandLines; StopAt = $StopAt; Hash = $Hash; Blocks = $Blocks }
    $runs = & ([scriptblock]::Create($Blocks.RunExe)) @run
    $names = @{}
    if ($WithAdapterNames) { $names = & ([scriptblock]::Create($Blocks.AdapterNames)) }
    [pscustomobject]@{ Refused = $null; Runs = $runs; AdapterNames = $names }
}

# What the guard needs to know of this machine, asked there: Sessions, the
# addresses that carry the sessions of this process, each with the protocol
# of its address (ms_tcpip for IPv4, ms_tcpip6 for IPv6) and the GUID of the
# adapter that holds it (none where that cannot be told); and Routes, the
# adapters with a default route, each with its protocol. The sessions: for
# SSH the server's address in SSH_CONNECTION (a remote runspace's connection
# string is only http://localhost); for WinRM the local address of every
# established connection to ports 5985 and 5986; for an RDP session of this
# process's own (SESSIONNAME RDP-...), of every established connection to the
# RDP listener's port. In a session whose address cannot be found at all,
# Sessions holds one entry with no Address, Protocol or Guid. Addresses and
# routes come from the NetTCPIP cmdlets, or without them (Windows 7) from
# Win32_NetworkAdapterConfiguration.
$script:ManagementStep = {
    $ports = @(5985, 5986)
    if ($env:SESSIONNAME -like 'RDP-*') {
        $rdp = 3389
        $listener = 'HKLM:\SYSTEM\CurrentControlSet\Control\Terminal Server\WinStations\RDP-Tcp'
        $setting = Get-ItemProperty -LiteralPath $listener -Name PortNumber -ErrorAction Ignore
        if ($setting) { $rdp = [int]$setting.PortNumber }
        $ports += $rdp
    }
    $addresses = @()
    if ($env:SSH_CONNECTION) { $addresses += @($env:SSH_CONNECTION -split ' ')[2] }
    if (Get-Command Get-NetTCPConnection -ErrorAction Ignore) {
        foreach ($connection in @(Get-NetTCPConnection -State Established -LocalPort $ports -ErrorAction Ignore)) {
            $addresses += [string]$connection.LocalAddress
        }
    }
    $plain = @(foreach ($address in $addresses) { if ($address) { $address `
        -replace '^::ffff:(\d+\.\d+\.\d+\.\d+)$', '$1' } })
    $cmdlets = [bool](Get-Command Get-NetIPAddress -ErrorAction Ignore)
    $guids = @{}
    $configurations = @()
    if ($cmdlets) {
        foreach ($adapter in @(Get-NetAdapter -IncludeHidden -ErrorAction Ignore)) {
            $guids[[string]$adapter.InterfaceIndex] = [string]$adapter.InterfaceGuid
        }
    } elseif (Get-Command Get-CimInstance -ErrorAction Ignore) {
        $configurations = @(Get-CimInstance -ClassName Win32_NetworkAdapterConfiguration -ErrorAction Ignore)
    }
    $seen = @{}
    $sessions = @(foreach ($address in $plain) {
            if ($seen.ContainsKey($address)) { continue }
            $seen[$address] = $true
            $guid = $null
            if ($cmdlets) {
                $ip = @(Get-NetIPAddress -IPAddress $address -ErrorAction Ignore)
                if ($ip.Count -gt 0) { $guid = $guids[[string]$ip[0].InterfaceIndex] }
            } else {
                foreach ($configuration in $configurations) {
                    if (@($configuration.IPAddress) -contains $address) { $guid = [string]$configuration.SettingID }
                }
            }
            $protocol = $(if ($address.Contains(':')) { 'ms_tcpip6' } else { 'ms_tcpip' })
            [pscustomobject]@{ Address = $address; Protocol = $protocol; Guid = $guid }
        })
    if ($sessions.Count -eq 0) { $sessions = @([pscustomobject]@{ Address = $null; Protocol = $null; Guid = $null }) }
    $routes = @()
    if (Get-Command Get-NetRoute -ErrorAction Ignore) {
        $routes = @(foreach ($route in @(Get-NetRoute -DestinationPrefix '0.0.0.0/0', '::/0' -ErrorAction Ignore)) {
                $protocol = $(if ([string]$route.DestinationPrefix -eq '::/0') { 'ms_tcpip6' } else { 'ms_tcpip' })
                [pscustomobject]@{ Guid = $guids[[string]$route.InterfaceIndex]; Protocol = $protocol }
            })
    } else {
        $routes = @(foreach ($configuration in $configurations) {
                foreach ($gateway in @($configuration.DefaultIPGateway)) {
                    if (-not $gateway) { continue }
                    $protocol = $(if (([string]$gateway).Contains(':')) { 'ms_tcpip6' } else { 'ms_tcpip' })
                    [pscustomobject]@{ Guid = [string]$configuration.SettingID; Protocol = $protocol }
                }
            })
    }
    [pscustomobject]@{ Sessions = $sessions; Routes = $routes }
}
