# Running a process: ferrule started once for each command line, with its
# output read in the code page it writes. These blocks run here, and travel to
# other machines inside the steps of Remote.ps1, so each stands alone (see
# there).

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

# Runs a ferrule once for each command line, in turn (Blocks.StartExe), and
# gives each run's exit status and lines; after a run whose status is one of
# StopAt (a stop asked), none more, nor after a run that did not start or was
# refused. With Hash, each start is only of an exe whose SHA-256 is Hash (see
# StartExe). On Windows ferrule writes redirected output in the console's
# output code page, or without a console in the OEM code page: with a
# console, the runs share it, its output code page made UTF-8 for them; without
# one, they get none either (not a new one, whose code page could be another),
# and their output is read in the code page that Blocks.OutputCodePage
# chooses; the launcher that starts a process with no console is
# Blocks.Launcher's C#.
$script:RunExe = {
    param([string]$Path, [string[]]$CommandLines, [int[]]$StopAt, [string]$Hash, [hashtable]$Blocks)
    $encoding = New-Object System.Text.UTF8Encoding $false
    $restore = $null
    $console = $false
    try {
        $restore = [Console]::OutputEncoding
        [Console]::OutputEncoding = $encoding
        $console = $true
    } catch {
        $restore = $null
    }
    $key = 'HKLM:\SYSTEM\CurrentControlSet\Control\Nls\CodePage'
    $nls = Get-ItemProperty -LiteralPath $key -Name OEMCP -ErrorAction Ignore
    $oem = $(if ($nls) { [string]$nls.OEMCP } else { '' })
    $choice = @{ Console = $console; OemCodePage = $oem
        CultureCodePage = [Globalization.CultureInfo]::CurrentCulture.TextInfo.OEMCodePage
    }
    $codePage = & ([scriptblock]::Create($Blocks.OutputCodePage)) @choice
    if ($codePage -ne 65001) { $encoding = [Text.Encoding]::GetEncoding([int]$codePage) }
    if (-not $console -and -not ('Ferrule.DetachedRun' -as [type])) {
        # CreateProcess with DETACHED_PROCESS and one inherited handle, which .NET's Process does not offer
        # (Types/DetachedRun.cs).
        Add-Type -TypeDefinition $Blocks.Launcher
    }
    $start = [scriptblock]::Create($Blocks.StartExe)
    $each = @{ Path = $Path; Hash = $Hash; Encoding = $encoding; Console = $console; Blocks = $Blocks }
    $runs = New-Object System.Collections.ArrayList
    try {
        foreach ($commandLine in $CommandLines) {
            $run = & $start -CommandLine $commandLine @each
            [void]$runs.Add($run)
            if ($null -eq $run.Status -or $StopAt -contains $run.Status) { break }
        }
    } finally {
        if ($null -ne $restore) { [Console]::OutputEncoding = $restore }
    }
    , $runs.ToArray()
}

# One run of the exe at Path with one command line: its exit status (Status)
# and lines (Lines, read in Encoding), Refused (a reason) where the exe is
# not the one of Hash, or NotStarted (why) where it could not be opened or
# started (gone, say, since the run before); the last two have no Status.
# With Hash, the start first reads the exe through a handle that it holds
# until the process has started, and starts it only if that SHA-256 is Hash,
# from what that handle holds (Blocks.ExeStartPath): on Windows, where the
# handle denies writes and deletes, from the path that the handle gives, so
# that no junction swapped in meanwhile can send the start elsewhere. The
# bytes that run are the bytes that were read. Without Console, through the
# launcher, which starts it with no console.
$script:StartExe = {
    param([string]$Path, [string]$CommandLine, [string]$Hash, [Text.Encoding]$Encoding, [bool]$Console,
        [hashtable]$Blocks)
    # Looked for first: an exception caught here would still reach the caller's -ErrorVariable.
    if (-not [IO.File]::Exists($Path)) {
        return [pscustomobject]@{ Status = $null; Lines = @(); Refused = $null; NotStarted = "$Path`: no such file" }
    }
    $file = $null
    $process = $null
    try {
        if ($Hash) {
            $file = New-Object System.IO.FileStream $Path, 'Open', 'Read', 'Read'
            $sha = [Security.Cryptography.SHA256]::Create()
            $read = -join @($sha.ComputeHash($file) | ForEach-Object { $_.ToString('X2') })
            $sha.Dispose()
            if ($read -ne $Hash) {
                return [pscustomobject]@{ Status = $null; Lines = @()
                    Refused = [pscustomobject]@{ Id = 'ExeNotCopied'; Values = @($Path, $Hash) }
                }
            }
        }
        $start = $Path
        if ($file) { $start = & ([scriptblock]::Create($Blocks.ExeStartPath)) -File $file -Launcher $Blocks.Launcher }
        if (-not $Console) {
            $text = $null
            $status = [Ferrule.DetachedRun]::Run($start, $CommandLine, $Encoding, [ref]$text)
        } else {
            $info = New-Object System.Diagnostics.ProcessStartInfo
            $info.FileName = $start
            $info.Arguments = $CommandLine
            $info.UseShellExecute = $false
            $info.RedirectStandardOutput = $true
            $info.StandardOutputEncoding = $Encoding
            $process = [Diagnostics.Process]::Start($info)
        }
    } catch [ComponentModel.Win32Exception], [IO.IOException], [UnauthorizedAccessException] {
        return [pscustomobject]@{ Status = $null; Lines = @(); Refused = $null
            NotStarted = "$Path`: $($_.Exception.Message)"
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
    $lines = [string[]]($text -split "`r?`n")
    # The last line's end leaves an empty last element: dropped without a pipeline over every line.
    if ($lines.Count -gt 0 -and $lines[-1] -eq '') {
        $kept = New-Object string[] ($lines.Count - 1)
        [Array]::Copy($lines, $kept, $kept.Length)
        $lines = $kept
    }
    [pscustomobject]@{ Status = $status; Lines = $lines; Refused = $null; NotStarted = $null }
}

# The path that starts the exe that File (a FileStream, open for reading and
# shared only for reading) holds: the path that the handle gives
# (GetFinalPathNameByHandle, through the launcher's C#, Launcher, loaded where
# it is not) (a block of the seam, Ferrule.psm1).
$script:HostSeam.ExeStartPath = {
    param([IO.FileStream]$File, [string]$Launcher)
    if (-not ('Ferrule.DetachedRun' -as [type])) { Add-Type -TypeDefinition $Launcher }
    [Ferrule.DetachedRun]::FinalPath($File.SafeFileHandle)
}
