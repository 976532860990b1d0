# What a machine says of itself: its adapters' connection names and its
# identity. These blocks run here, and travel to other machines inside the
# steps of Remote.ps1, so each stands alone (see there).

# The connection names of a machine's adapters, by interface GUID: from
# Get-NetAdapter (Windows 8 and later), else from Win32_NetworkAdapter
# (Windows 7, Server 2008 R2). Empty where neither is there. The commands are
# looked for as PowerShell looks for a command it runs (loading the module
# that has it): Get-Command would also search the path for programs, which
# costs more than a listing of a thousand paths where neither is there.
$script:AdapterNames = {
    $names = @{}
    $commands = $ExecutionContext.InvokeCommand
    if ($commands.GetCommand('Get-NetAdapter', 'Function, Cmdlet')) {
        foreach ($adapter in @(Get-NetAdapter -IncludeHidden -ErrorAction Ignore)) {
            if ($adapter.InterfaceGuid) { $names[[string]$adapter.InterfaceGuid] = [string]$adapter.Name }
        }
    } elseif ($commands.GetCommand('Get-CimInstance', 'Function, Cmdlet')) {
        foreach ($adapter in @(Get-CimInstance -ClassName Win32_NetworkAdapter -ErrorAction Ignore)) {
            if ($adapter.GUID -and
                $adapter.NetConnectionID) { $names[[string]$adapter.GUID] = [string]$adapter.NetConnectionID }
        }
    }
    $names
}

# The machine's identity (a block of the seam, Ferrule.psm1): its
# MachineGuid (read through the registry's 64-bit view, which a 32-bit process
# does not see otherwise) and the name it gives itself. Clones made without
# sysprep share the GUID, but not, once renamed, the name. MachineId is $null
# where it cannot be read (Windows PE, a container).
$script:HostSeam.MachineIdentity = {
    $id = $null
    try {
        $hive = [Microsoft.Win32.RegistryKey]::OpenBaseKey('LocalMachine', 'Registry64')
        $key = $hive.OpenSubKey('SOFTWARE\Microsoft\Cryptography')
        if ($key) { $id = [string]$key.GetValue('MachineGuid') }
    } catch {
        $id = $null
    }
    if (-not $id) { $id = $null }
    [pscustomobject]@{ MachineId = $id; MachineName = [Environment]::MachineName }
}

# The machine's architecture (Name: AMD64, x86 or ARM64), not this process's:
# in 32-bit PowerShell on 64-bit Windows PROCESSOR_ARCHITECTURE says x86, and
# PROCESSOR_ARCHITEW6432 the truth. Exe is the package's exe that it runs:
# x64 or x86. There is no ARM64 build: Windows 11 (build 22000 on) runs x64
# under emulation there, and Windows 10 emulates x86 alone (Emulated).
$script:MachineArchitecture = {
    param([int]$Build = [Environment]::OSVersion.Version.Build)
    $name = $env:PROCESSOR_ARCHITEW6432
    if (-not $name) { $name = $env:PROCESSOR_ARCHITECTURE }
    if (-not $name) { $name = $(if ([Environment]::Is64BitOperatingSystem) { 'AMD64' } else { 'x86' }) }
    $exe = $(if ($name -eq 'AMD64' -or ($name -eq 'ARM64' -and $Build -ge 22000)) { 'x64' } else { 'x86' })
    [pscustomobject]@{ Name = [string]$name; Exe = $exe; Emulated = $name -eq 'ARM64' }
}
