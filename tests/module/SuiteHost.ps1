# The suite's hosts (Debian, and the SSH hosts of Fleet.Tests.ps1 on it): the
# blocks of the module's seam (HostSeam, Ferrule.psm1) that they do in their
# own way, by the seam's names. The module runs this once as it loads, where
# FERRULE_SUITE_HOST names it, and puts these in place of the Windows blocks.
# They travel to other machines as the module's own do, so each stands alone
# (Run.Tests.ps1 holds them to it). What they read of the environment is the
# suite's own: FERRULE_MACHINE_ID and FERRULE_MACHINE_NAME (a host's
# identity), FERRULE_EVENT_FILE (where its event records go).
@{
    # The GUID is FERRULE_MACHINE_ID's, else /etc/machine-id's; the name
    # FERRULE_MACHINE_NAME's, else the host's.
    MachineIdentity = {
        $id = $env:FERRULE_MACHINE_ID
        if (-not $id -and (Test-Path -LiteralPath '/etc/machine-id')) {
            $id = [IO.File]::ReadAllText('/etc/machine-id').Trim()
        }
        $name = [Environment]::MachineName
        if ($env:FERRULE_MACHINE_NAME) { $name = $env:FERRULE_MACHINE_NAME }
        if (-not $id) { $id = $null }
        [pscustomobject]@{ MachineId = $id; MachineName = $name }
    }

    AccountName = {
        [Environment]::UserName
    }

    # Each record a line of JSON appended to FERRULE_EVENT_FILE, its text as
    # Windows would hold it in Text; none where it names no file. Where
    # FERRULE_EVENT_REFUSE names a file, the first write takes it away and
    # fails, as a write can just after the source is registered.
    EventSink = {
        param([System.Collections.IDictionary]$Entry, [string]$Text)
        if ($env:FERRULE_EVENT_REFUSE -and [IO.File]::Exists($env:FERRULE_EVENT_REFUSE)) {
            [IO.File]::Delete($env:FERRULE_EVENT_REFUSE)
            throw 'The source Ferrule was registered a moment ago.'
        }
        if (-not $env:FERRULE_EVENT_FILE) { return }
        $line = [ordered]@{}
        foreach ($key in $Entry.Keys) { $line[$key] = $Entry[$key] }
        $line.Text = $Text
        [IO.File]::AppendAllText($env:FERRULE_EVENT_FILE, (ConvertTo-Json -InputObject $line -Compress) + "`n")
    }

    # From the handle itself, where sharing modes are only advice.
    ExeStartPath = {
        param([IO.FileStream]$File, [string]$Launcher)
        "/proc/$PID/fd/$($File.SafeFileHandle.DangerousGetHandle().ToInt64())"
    }

    # The exe and its folder are this user's, and neither its group nor others
    # may write them; the folders above are not asked.
    FileOwnerCheck = {
        param([string]$Item, [int64]$Rights, [string]$Id)
        if ($Id -eq 'ExeParentWritable') { return $null }
        $owner, $mode = (& stat -c '%u %a' -- $Item) -split ' '
        if ($owner -ne (& id -u)) { return [pscustomobject]@{ Id = 'ExeOwnedByOther'; Values = @($Item, $owner) } }
        if (([Convert]::ToInt32($mode, 8) -band 18) -ne 0) {
            return [pscustomobject]@{ Id = 'ExeWritableByOthers'; Values = @($Item, $mode) }
        }
        $null
    }

    HomeFolder = {
        Join-Path $HOME '.ferrule'
    }

    # With the mode 755, given as it is made.
    NewExeItem = {
        param([string]$Path, [bool]$Folder)
        if ($Folder) {
            [void][IO.Directory]::CreateDirectory($Path, [IO.UnixFileMode]0x1ED)
            return
        }
        $options = New-Object IO.FileStreamOptions
        $options.Mode = 'CreateNew'
        $options.Access = 'Write'
        $options.Share = 'None'
        $options.UnixCreateMode = [IO.UnixFileMode]0x1ED
        New-Object IO.FileStream -ArgumentList $Path, $options
    }
}
