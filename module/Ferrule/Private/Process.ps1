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

# Runs a ferrule once for each command line, in turn, and gives each run's
# exit status and lines; after a run whose status is one of StopAt (a stop
# asked), none more. With Hash, each start first reads the exe through a
# handle that it holds until the process has started, and starts it only if
# that SHA-256 is Hash, from what that handle holds: on Windows, where the
# handle denies writes and deletes, from the path that the handle gives
# (GetFinalPathNameByHandle), so that no junction swapped in meanwhile can
# send the start elsewhere; elsewhere, where sharing modes are only advice,
# from the handle itself (/proc/PID/fd/N). The bytes that run are the bytes
# that were read. A start refused so is a run with Refused set,
# and the last. On Windows ferrule writes redirected output in the console's
# output code page, or without a console in the OEM code page: with a
# console, the runs share it, its output code page made UTF-8 for them; without
# one, they get none either (not a new one, whose code page could be another),
# and their output is read in the code page that Blocks.OutputCodePage
# chooses; the launcher that starts a process with no console is
# Blocks.Launcher's C#.
$script:RunExe = {
    param([string]$Path, [string[]]$CommandLines, [int[]]$StopAt, [string]$Hash, [hashtable]$Blocks)
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
        $nls = Get-ItemProperty -LiteralPath 'HKLM:\SYSTEM\CurrentControlSet\Control\Nls\CodePage' -Name OEMCP `
            -ErrorAction Ignore
        $oem = $(if ($nls) { [string]$nls.OEMCP } else { '' })
        $codePage = & ([scriptblock]::Create($Blocks.OutputCodePage)) -Console $console -OemCodePage $oem `
            -CultureCodePage ([Globalization.CultureInfo]::CurrentCulture.TextInfo.OEMCodePage)
        if ($codePage -ne 65001) { $encoding = [Text.Encoding]::GetEncoding([int]$codePage) }
        if ((-not $console -or $Hash) -and -not ('Ferrule.DetachedRun' -as [type])) {
            # CreateProcess with DETACHED_PROCESS and one inherited handle, which .NET's Process does not
            # offer, and GetFinalPathNameByHandle (Types/DetachedRun.cs).
            Add-Type -TypeDefinition $Blocks.Launcher
        }
    }
    $runs = New-Object System.Collections.ArrayList
    try {
        foreach ($commandLine in $CommandLines) {
            $file = $null
            $process = $null
            # An exe that cannot be opened or started (gone, say, since the
            # run before) is a run that did not start, and ends the runs.
            $notStarted = $null
            # Looked for first: an exception caught here would still reach the caller's -ErrorVariable.
            if (-not [IO.File]::Exists($Path)) {
                [void]$runs.Add([pscustomobject]@{ Status = $null; Lines = @(); Refused = $null
                        NotStarted = "$Path`: no such file" })
                break
            }
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
                $start = $Path
                if ($file -and $windows) { $start = [Ferrule.DetachedRun]::FinalPath($file.SafeFileHandle) }
                if ($file -and -not $windows) {
                    $start = "/proc/$PID/fd/$($file.SafeFileHandle.DangerousGetHandle().ToInt64())"
                }
                if ($windows -and -not $console) {
                    $text = $null
                    $status = [Ferrule.DetachedRun]::Run($start, $commandLine, $encoding, [ref]$text)
                } else {
                    $info = New-Object System.Diagnostics.ProcessStartInfo
                    $info.FileName = $start
                    $info.Arguments = $commandLine
                    $info.UseShellExecute = $false
                    $info.RedirectStandardOutput = $true
                    $info.StandardOutputEncoding = $encoding
                    $process = [Diagnostics.Process]::Start($info)
                }
            } catch [ComponentModel.Win32Exception], [IO.IOException], [UnauthorizedAccessException] {
                $notStarted = "$Path`: $($_.Exception.Message)"
            } finally {
                if ($file) { $file.Dispose() }
            }
            if ($notStarted) {
                [void]$runs.Add([pscustomobject]@{ Status = $null; Lines = @(); Refused = $null
                        NotStarted = $notStarted })
                break
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
            [void]$runs.Add([pscustomobject]@{ Status = $status; Lines = $lines; Refused = $null; NotStarted = $null })
            if ($StopAt -contains $status) { break }
        }
    } finally {
        if ($null -ne $restore) { [Console]::OutputEncoding = $restore }
    }
    , $runs.ToArray()
}
