# What runs on another machine, sent there as a script block: each block here
# stands alone, with named parameters of its own, and uses no function and no
# script variable of the module's (a test holds every block to that), since
# none of them is there. RunExe and AdapterNames run here as well.
#
# On another machine the exe lives in a folder of the module's own: FERRULE_HOME
# where the machine's environment sets it, else, on Windows, Ferrule under
# Program Files (which only administrators can write), elsewhere ~/.ferrule.
# A command goes there in three steps: Probe, then Copy where the exe there is
# missing or another, then Run.

# Runs a ferrule once for each command line, in turn, and gives each run's
# exit status and lines; after a run whose status is one of StopAt (a stop
# asked), none more. On Windows ferrule writes redirected output in the
# console's output code page: for the runs, that is made UTF-8, so that no
# name loses a character the console's own code page lacks. Without a console
# (a remote session has none) ferrule writes the OEM code page, which is read
# so.
$script:RunExe = {
    param([string]$Path, [string[]]$CommandLines, [int[]]$StopAt)
    $encoding = New-Object System.Text.UTF8Encoding $false
    $restore = $null
    if ([Environment]::OSVersion.Platform -eq [PlatformID]::Win32NT) {
        try {
            $restore = [Console]::OutputEncoding
            [Console]::OutputEncoding = $encoding
        } catch {
            $restore = $null
            $encoding = [Text.Encoding]::GetEncoding([Globalization.CultureInfo]::CurrentCulture.TextInfo.OEMCodePage)
        }
    }
    $runs = New-Object System.Collections.ArrayList
    try {
        foreach ($commandLine in $CommandLines) {
            $info = New-Object System.Diagnostics.ProcessStartInfo
            $info.FileName = $Path
            $info.Arguments = $commandLine
            $info.UseShellExecute = $false
            $info.RedirectStandardOutput = $true
            $info.StandardOutputEncoding = $encoding
            $process = [Diagnostics.Process]::Start($info)
            $text = $process.StandardOutput.ReadToEnd()
            $process.WaitForExit()
            $status = $process.ExitCode
            $process.Dispose()
            $lines = @($text -split "`r?`n")
            if ($lines.Count -gt 0 -and $lines[-1] -eq '') { $lines = @($lines | Select-Object -First ($lines.Count - 1)) }
            [void]$runs.Add([pscustomobject]@{ Status = $status; Lines = $lines })
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
    if (Get-Command Get-NetAdapter -ErrorAction SilentlyContinue) {
        foreach ($adapter in @(Get-NetAdapter -IncludeHidden -ErrorAction SilentlyContinue)) {
            if ($adapter.InterfaceGuid) { $names[[string]$adapter.InterfaceGuid] = [string]$adapter.Name }
        }
    } elseif (Get-Command Get-CimInstance -ErrorAction SilentlyContinue) {
        foreach ($adapter in @(Get-CimInstance -ClassName Win32_NetworkAdapter -ErrorAction SilentlyContinue)) {
            if ($adapter.GUID -and $adapter.NetConnectionID) { $names[[string]$adapter.GUID] = [string]$adapter.NetConnectionID }
        }
    }
    $names
}

# The machine's architecture, where the exe Name lives there, and the SHA-256
# of the exe there (none when it is missing).
$script:ProbeStep = {
    param([string]$Name)
    $folder = $env:FERRULE_HOME
    if (-not $folder) {
        if ([Environment]::OSVersion.Platform -eq [PlatformID]::Win32NT) {
            $folder = Join-Path $env:ProgramFiles 'Ferrule'
        } else {
            $folder = Join-Path $HOME '.ferrule'
        }
    }
    $exe = Join-Path $folder $Name
    $hash = $null
    if (Test-Path -LiteralPath $exe) { $hash = (Get-FileHash -Algorithm SHA256 -LiteralPath $exe).Hash }
    [pscustomobject]@{ Is64Bit = [Environment]::Is64BitOperatingSystem; Hash = $hash; Path = $exe }
}

# Writes the exe's bytes beside Path (the probe's), then puts them in its place.
$script:CopyStep = {
    param([string]$Path, [byte[]]$Bytes)
    New-Item -ItemType Directory -Force -Path (Split-Path -Parent $Path) | Out-Null
    [IO.File]::WriteAllBytes("$Path.new", $Bytes)
    if ([Environment]::OSVersion.Platform -ne [PlatformID]::Win32NT) { chmod 755 "$Path.new" }
    Move-Item -Force -LiteralPath "$Path.new" -Destination $Path
}

# Runs each command line with the exe at Path, but only when its SHA-256 is
# Hash, through RunText (RunExe's text); and gives, with NamesText
# (AdapterNames's text), the adapters' names.
$script:RunStep = {
    param([string]$Path, [string]$Hash, [string[]]$CommandLines, [string]$RunText, [string]$NamesText, [int[]]$StopAt)
    $there = $null
    if (Test-Path -LiteralPath $Path) { $there = (Get-FileHash -Algorithm SHA256 -LiteralPath $Path).Hash }
    if ($there -ne $Hash) {
        return [pscustomobject]@{ Refused = "$Path is not the ferrule that was copied there (its SHA-256 is not $Hash): not run" }
    }
    $runs = & ([scriptblock]::Create($RunText)) -Path $Path -CommandLines $CommandLines -StopAt $StopAt
    $names = @{}
    if ($NamesText) { $names = & ([scriptblock]::Create($NamesText)) }
    [pscustomobject]@{ Refused = $null; Runs = $runs; AdapterNames = $names }
}
