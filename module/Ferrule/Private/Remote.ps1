# What runs on another machine, sent there as a script block: each block here
# stands alone, with named parameters of its own, and uses no function and no
# script variable of the module's (a test holds every block that travels to
# that), since none of them is there. A block says why it refuses as a reason
# (Id, a key of the module's messages, and its Values), which the module turns
# into its message here.
#
# The one way a step gets the other blocks it needs: its Blocks argument, the
# text of each block by name, as Get-RemoteBlock gives it (RunExe and
# OutputCodePage of Process.ps1, AdapterNames and MachineIdentity of
# Machine.ps1, WriteCheck here, and the launcher's C#). A step makes a block
# with [scriptblock]::Create($Blocks.NAME) and calls it by its named
# parameters; RunExe takes the same Blocks.
#
# On another machine the exe lives in a folder of the module's own: FERRULE_HOME
# where the machine's environment sets it, else, on Windows, Ferrule under
# Program Files (which only administrators can write), elsewhere ~/.ferrule.
# A command goes there in three steps: Probe, then Copy where the exe there is
# missing or another, then Run.

# Why the folder or the exe there may not be used (a reason), or $null:
# anyone but those who should can write it. On Windows only Administrators, SYSTEM,
# TrustedInstaller and CREATOR OWNER may hold a right to write (a folder under
# Program Files inherits just theirs); elsewhere only the owner, this user.
$script:WriteCheck = {
    param([string[]]$Paths)
    $windows = [Environment]::OSVersion.Platform -eq [PlatformID]::Win32NT
    $writers = 'S-1-5-32-544', 'S-1-5-18', 'S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464', 'S-1-3-0'
    # Write, Delete, DeleteSubdirectoriesAndFiles, ChangePermissions, TakeOwnership, GENERIC_ALL, GENERIC_WRITE.
    $writing = 0x116 -bor 0x10000 -bor 0x40 -bor 0x40000 -bor 0x80000 -bor 0x10000000 -bor 0x40000000
    foreach ($path in $Paths) {
        if (-not (Test-Path -LiteralPath $path)) { continue }
        if ($windows) {
            foreach ($rule in @((Get-Acl -LiteralPath $path).Access)) {
                if ([string]$rule.AccessControlType -ne 'Allow' -or
                    ([string]$rule.PropagationFlags).Contains('InheritOnly')) { continue }
                if (([int64]$rule.FileSystemRights -band $writing) -eq 0) { continue }
                $sid = $rule.IdentityReference.Value
                try {
                    $sid = $rule.IdentityReference.Translate([Security.Principal.SecurityIdentifier]).Value
                } catch {
                    $sid = $rule.IdentityReference.Value
                }
                if ($writers -notcontains $sid) {
                    return [pscustomobject]@{ Id = 'ExeWritable'; Values = @($path, $rule.IdentityReference.Value) }
                }
            }
        } else {
            $owner, $mode = (& stat -c '%u %a' -- $path) -split ' '
            if ($owner -ne (& id -u)) { return [pscustomobject]@{ Id = 'ExeOwnedByOther'; Values = @($path, $owner) } }
            if (([Convert]::ToInt32($mode, 8) -band 18) -ne 0) {
                return [pscustomobject]@{ Id = 'ExeWritableByOthers'; Values = @($path, $mode) }
            }
        }
    }
    # Nothing, said as $null: a block that gives nothing gives AutomationNull, which would travel back as an
    # empty object.
    $null
}

# The machine's architecture, its identity (Blocks.MachineIdentity), where
# the exe Name lives there, and the SHA-256 of the exe there (none when it is
# missing); or, through Blocks.WriteCheck, why that folder or exe is refused.
$script:ProbeStep = {
    param([string]$Name, [hashtable]$Blocks)
    $folder = $env:FERRULE_HOME
    if (-not $folder) {
        if ([Environment]::OSVersion.Platform -eq [PlatformID]::Win32NT) {
            $folder = Join-Path $env:ProgramFiles 'Ferrule'
        } else {
            $folder = Join-Path $HOME '.ferrule'
        }
    }
    $exe = Join-Path $folder $Name
    $refused = & ([scriptblock]::Create($Blocks.WriteCheck)) -Paths @($folder, $exe)
    $hash = $null
    if (-not $refused -and (Test-Path -LiteralPath $exe)) { $hash = (Get-FileHash -Algorithm SHA256 `
        -LiteralPath $exe).Hash }
    $identity = & ([scriptblock]::Create($Blocks.MachineIdentity))
    [pscustomobject]@{ Is64Bit = [Environment]::Is64BitOperatingSystem; Hash = $hash; Path = $exe; Refused = $refused
        MachineId = $identity.MachineId; MachineName = $identity.MachineName
    }
}

# Writes the exe's bytes under a name no one can foresee beside Path (the
# probe's), then puts them in its place. A folder made here may be written by
# its owner alone, or on Windows by Administrators and SYSTEM alone (one under
# Program Files inherits that).
$script:CopyStep = {
    param([string]$Path, [byte[]]$Bytes)
    $windows = [Environment]::OSVersion.Platform -eq [PlatformID]::Win32NT
    $folder = Split-Path -Parent $Path
    if (-not (Test-Path -LiteralPath $folder)) {
        New-Item -ItemType Directory -Path $folder | Out-Null
        if (-not $windows) {
            chmod 755 $folder
        } elseif ((Split-Path -Parent $folder) -ne $env:ProgramFiles) {
            $rights = New-Object System.Security.AccessControl.DirectorySecurity
            $rights.SetAccessRuleProtection($true, $false)
            foreach ($entry in @(@('S-1-5-32-544', 'FullControl'), @('S-1-5-18', 'FullControl'), @('S-1-5-32-545',
                'ReadAndExecute'))) {
                $rights.AddAccessRule((New-Object System.Security.AccessControl.FileSystemAccessRule (
                            (New-Object System.Security.Principal.SecurityIdentifier $entry[0]), $entry[1],
                            'ContainerInherit, ObjectInherit', 'None', 'Allow')))
            }
            Set-Acl -LiteralPath $folder -AclObject $rights
        }
    }
    $temporary = Join-Path $folder ((Split-Path -Leaf $Path) + '.' + [IO.Path]::GetRandomFileName())
    $file = New-Object System.IO.FileStream $temporary, 'CreateNew', 'Write', 'None'
    try { $file.Write($Bytes, 0, $Bytes.Length) } finally { $file.Dispose() }
    if (-not $windows) { chmod 755 $temporary }
    Move-Item -Force -LiteralPath $temporary -Destination $Path
}

# Runs each command line with the exe at Path (Blocks.RunExe), each start
# only with an exe whose SHA-256 is Hash, and none where Blocks.WriteCheck
# refuses the folder or the exe; and gives, -WithAdapterNames, the adapters'
# names (Blocks.AdapterNames).
$script:RunStep = {
    param([string]$Path, [string]$Hash, [string[]]$CommandLines, [int[]]$StopAt, [hashtable]$Blocks,
        [bool]$WithAdapterNames)
    $refused = & ([scriptblock]::Create($Blocks.WriteCheck)) -Paths @((Split-Path -Parent $Path), $Path)
    if ($refused) { return [pscustomobject]@{ Refused = $refused } }
    $runs = & ([scriptblock]::Create($Blocks.RunExe)) -Path $Path -CommandLines $CommandLines -StopAt $StopAt `
        -Hash $Hash `
        -Blocks $Blocks
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
