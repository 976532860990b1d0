# What runs on another machine, sent there as a script block: each block here
# stands alone, with named parameters of its own, and uses no function and no
# script variable of the module's (a test holds every block to that), since
# none of them is there. RunExe and AdapterNames run here as well. A block
# says why it refuses as a reason (Id, a key of the module's messages, and
# its Values), which the module turns into its message here.
#
# On another machine the exe lives in a folder of the module's own: FERRULE_HOME
# where the machine's environment sets it, else, on Windows, Ferrule under
# Program Files (which only administrators can write), elsewhere ~/.ferrule.
# A command goes there in three steps: Probe, then Copy where the exe there is
# missing or another, then Run.

# The code page that ferrule writes redirected output in, and so the one to
# read it in: UTF-8 where this process has a console (RunExe makes that the
# console's output code page for the runs); else the system's OEM code page,
# as GetOEMCP gives it (OemCodePage, the registry's OEMCP): the culture's
# follows the user's format settings, which remoting can bring from the
# client; the culture's only where the registry has none.
$script:OutputCodePage = {
    param([bool]$Console, [string]$OemCodePage, [int]$CultureCodePage)
    if ($Console) { return 65001 }
    $value = 0
    if ([int]::TryParse($OemCodePage, [ref]$value) -and $value -gt 0) { return $value }
    $CultureCodePage
}

# Runs a ferrule once for each command line, in turn, and gives each run's
# exit status and lines; after a run whose status is one of StopAt (a stop
# asked), none more. With Hash, each start first reads the exe through a
# handle that it holds until the process has started, and starts it only if
# that SHA-256 is Hash: on Windows the handle denies writes and deletes, and
# the process is started from the path; elsewhere, where sharing modes are only
# advice, from the handle itself (/proc/PID/fd/N), so that the bytes that run
# are the bytes that were read. A start refused so is a run with Refused set,
# and the last. On Windows ferrule writes redirected output in the console's
# output code page, or without a console in the OEM code page: with a
# console, the runs share it, its output code page made UTF-8 for them; without
# one, they get none either (not a new one, whose code page could be another),
# and their output is read in CodePageText's (OutputCodePage's) choice; the
# launcher that starts a process with no console is LauncherText's C#.
$script:RunExe = {
    param([string]$Path, [string[]]$CommandLines, [int[]]$StopAt, [string]$Hash, [string]$CodePageText, [string]$LauncherText)
    $windows = [Environment]::OSVersion.Platform -eq [PlatformID]::Win32NT
    $encoding = New-Object System.Text.UTF8Encoding $false
    $restore = $null
    $console = $false
    if ($windows) {
        try {
            $restore = [Console]::OutputEncoding
            [Console]::OutputEncoding = $encoding
            $console = $true
        } catch {
            $restore = $null
        }
        $nls = Get-ItemProperty -LiteralPath 'HKLM:\SYSTEM\CurrentControlSet\Control\Nls\CodePage' -Name OEMCP -ErrorAction Ignore
        $oem = $(if ($nls) { [string]$nls.OEMCP } else { '' })
        $codePage = & ([scriptblock]::Create($CodePageText)) -Console $console -OemCodePage $oem `
            -CultureCodePage ([Globalization.CultureInfo]::CurrentCulture.TextInfo.OEMCodePage)
        if ($codePage -ne 65001) { $encoding = [Text.Encoding]::GetEncoding([int]$codePage) }
        if (-not $console -and -not ('Ferrule.DetachedRun' -as [type])) {
            # CreateProcess with DETACHED_PROCESS, which .NET's Process does not offer (Types/DetachedRun.cs).
            Add-Type -TypeDefinition $LauncherText
        }
    }
    $runs = New-Object System.Collections.ArrayList
    try {
        foreach ($commandLine in $CommandLines) {
            $file = $null
            $process = $null
            try {
                if ($Hash) {
                    $file = New-Object System.IO.FileStream $Path, 'Open', 'Read', 'Read'
                    $sha = [Security.Cryptography.SHA256]::Create()
                    $read = -join @($sha.ComputeHash($file) | ForEach-Object { $_.ToString('X2') })
                    $sha.Dispose()
                    if ($read -ne $Hash) {
                        [void]$runs.Add([pscustomobject]@{
                                Status = $null; Lines = @()
                                Refused = [pscustomobject]@{ Id = 'ExeNotCopied'; Values = @($Path, $Hash) }
                            })
                        break
                    }
                }
                if ($windows -and -not $console) {
                    $text = $null
                    $status = [Ferrule.DetachedRun]::Run($Path, $commandLine, $encoding, [ref]$text)
                } else {
                    $info = New-Object System.Diagnostics.ProcessStartInfo
                    $info.FileName = $Path
                    if ($file -and -not $windows) {
                        $info.FileName = "/proc/$PID/fd/$($file.SafeFileHandle.DangerousGetHandle().ToInt64())"
                    }
                    $info.Arguments = $commandLine
                    $info.UseShellExecute = $false
                    $info.RedirectStandardOutput = $true
                    $info.StandardOutputEncoding = $encoding
                    $process = [Diagnostics.Process]::Start($info)
                }
            } finally {
                if ($file) { $file.Dispose() }
            }
            if ($process) {
                $text = $process.StandardOutput.ReadToEnd()
                $process.WaitForExit()
                $status = $process.ExitCode
                $process.Dispose()
            }
            $lines = @($text -split "`r?`n")
            if ($lines.Count -gt 0 -and $lines[-1] -eq '') { $lines = @($lines | Select-Object -First ($lines.Count - 1)) }
            [void]$runs.Add([pscustomobject]@{ Status = $status; Lines = $lines; Refused = $null })
            if ($StopAt -contains $status) { break }
        }
    } finally {
        if ($null -ne $restore) { [Console]::OutputEncoding = $restore }
    }
    , $runs.ToArray()
}

# The connection names of a machine's adapters, by interface GUID: from
# Get-NetAdapter (Windows 8 and later), else from Win32_NetworkAdapter
# (Windows 7, Server 2008 R2). Empty where neither is there.
$script:AdapterNames = {
    $names = @{}
    if (Get-Command Get-NetAdapter -ErrorAction Ignore) {
        foreach ($adapter in @(Get-NetAdapter -IncludeHidden -ErrorAction Ignore)) {
            if ($adapter.InterfaceGuid) { $names[[string]$adapter.InterfaceGuid] = [string]$adapter.Name }
        }
    } elseif (Get-Command Get-CimInstance -ErrorAction Ignore) {
        foreach ($adapter in @(Get-CimInstance -ClassName Win32_NetworkAdapter -ErrorAction Ignore)) {
            if ($adapter.GUID -and $adapter.NetConnectionID) { $names[[string]$adapter.GUID] = [string]$adapter.NetConnectionID }
        }
    }
    $names
}

# Why the folder or the exe there may not be used (a reason), or nothing:
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
                if ([string]$rule.AccessControlType -ne 'Allow' -or ([string]$rule.PropagationFlags).Contains('InheritOnly')) { continue }
                if (([int64]$rule.FileSystemRights -band $writing) -eq 0) { continue }
                $sid = $rule.IdentityReference.Value
                try { $sid = $rule.IdentityReference.Translate([Security.Principal.SecurityIdentifier]).Value } catch { $sid = $rule.IdentityReference.Value }
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
}

# The machine's identity: its MachineGuid (read through the registry's
# 64-bit view, which a 32-bit process does not see otherwise) and the name it
# gives itself. Clones made without sysprep share the GUID, but not, once
# renamed, the name. Off Windows, where only test hosts run, the GUID is
# FERRULE_MACHINE_ID's, else /etc/machine-id's, and the name
# FERRULE_MACHINE_NAME's, else the host's. MachineId is $null where it cannot
# be read (Windows PE, a container).
$script:MachineIdentity = {
    $id = $null
    $name = [Environment]::MachineName
    if ([Environment]::OSVersion.Platform -eq [PlatformID]::Win32NT) {
        try {
            $hive = [Microsoft.Win32.RegistryKey]::OpenBaseKey('LocalMachine', 'Registry64')
            $key = $hive.OpenSubKey('SOFTWARE\Microsoft\Cryptography')
            if ($key) { $id = [string]$key.GetValue('MachineGuid') }
        } catch {
            $id = $null
        }
    } else {
        $id = $env:FERRULE_MACHINE_ID
        if (-not $id -and (Test-Path -LiteralPath '/etc/machine-id')) { $id = [IO.File]::ReadAllText('/etc/machine-id').Trim() }
        if ($env:FERRULE_MACHINE_NAME) { $name = $env:FERRULE_MACHINE_NAME }
    }
    if (-not $id) { $id = $null }
    [pscustomobject]@{ MachineId = $id; MachineName = $name }
}

# The machine's architecture, its identity (through IdentityText,
# MachineIdentity's), where the exe Name lives there, and the SHA-256 of the
# exe there (none when it is missing); or, through CheckText (WriteCheck's),
# why that folder or exe is refused.
$script:ProbeStep = {
    param([string]$Name, [string]$CheckText, [string]$IdentityText)
    $folder = $env:FERRULE_HOME
    if (-not $folder) {
        if ([Environment]::OSVersion.Platform -eq [PlatformID]::Win32NT) {
            $folder = Join-Path $env:ProgramFiles 'Ferrule'
        } else {
            $folder = Join-Path $HOME '.ferrule'
        }
    }
    $exe = Join-Path $folder $Name
    # A block that gives nothing gives AutomationNull, which would arrive as an empty object.
    $refused = & ([scriptblock]::Create($CheckText)) -Paths @($folder, $exe)
    if (-not $refused) { $refused = $null }
    $hash = $null
    if (-not $refused -and (Test-Path -LiteralPath $exe)) { $hash = (Get-FileHash -Algorithm SHA256 -LiteralPath $exe).Hash }
    $identity = & ([scriptblock]::Create($IdentityText))
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
            foreach ($entry in @(@('S-1-5-32-544', 'FullControl'), @('S-1-5-18', 'FullControl'), @('S-1-5-32-545', 'ReadAndExecute'))) {
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

# Runs each command line with the exe at Path, through RunText (RunExe's),
# each start only with an exe whose SHA-256 is Hash, and none where CheckText
# (WriteCheck's) refuses the folder or the exe; and gives, with NamesText
# (AdapterNames's), the adapters' names.
$script:RunStep = {
    param([string]$Path, [string]$Hash, [string[]]$CommandLines, [int[]]$StopAt, [string]$RunText, [string]$CodePageText,
        [string]$CheckText, [string]$NamesText, [string]$LauncherText)
    $refused = & ([scriptblock]::Create($CheckText)) -Paths @((Split-Path -Parent $Path), $Path)
    if (-not $refused) { $refused = $null }
    if ($refused) { return [pscustomobject]@{ Refused = $refused } }
    $runs = & ([scriptblock]::Create($RunText)) -Path $Path -CommandLines $CommandLines -StopAt $StopAt -Hash $Hash `
        -CodePageText $CodePageText -LauncherText $LauncherText
    $names = @{}
    if ($NamesText) { $names = & ([scriptblock]::Create($NamesText)) }
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
    $plain = @(foreach ($address in $addresses) { if ($address) { $address -replace '^::ffff:(\d+\.\d+\.\d+\.\d+)$', '$1' } })
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
