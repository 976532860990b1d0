# An account of every change, on the machine that changed: one record a path,
# 1000 for a change made, 1001 for a change that failed, 1002 for a path that
# Windows changed beside one, in the Application log under the source Ferrule.

# The record of one path (a Ferrule.ChangeRecord): its event ID, its
# outcome (Made, Failed, or Unknown: it may have been made), the path, its
# state before ($null where it could not be read) and the state asked for
# (the state after, for 1000 and 1002).
function New-ChangeEvent {
    param([int]$Id, [string]$Outcome = 'Made', $Binding, [object]$Before, [bool]$After)
    New-Object Ferrule.ChangeRecord $Id, $Outcome, $Binding, $Before, $After
}

# The account that runs this, as the records name it (a block of the seam,
# Ferrule.psm1).
$script:HostSeam.AccountName = {
    [Security.Principal.WindowsIdentity]::GetCurrent().Name
}

# Writes one record, Entry (a table of its fields), as Text (its fields as
# lines), to the Application log under the source Ferrule, which it
# registers where it is missing and this user may (a block of the seam,
# Ferrule.psm1). A record it cannot write is an exception: a write just
# after the source is registered can fail until Windows has read it.
$script:HostSeam.EventSink = {
    param([System.Collections.IDictionary]$Entry, [string]$Text)
    $source = 'Ferrule'
    if (-not [Diagnostics.EventLog]::SourceExists($source)) {
        [Diagnostics.EventLog]::CreateEventSource($source, 'Application')
    }
    $types = @{ 1000 = 'Information'; 1001 = 'Error'; 1002 = 'Warning' }
    [Diagnostics.EventLog]::WriteEntry($source, $Text, [Diagnostics.EventLogEntryType]$types[$Entry.EventId],
        $Entry.EventId)
}

# Writes Records (New-ChangeEvent's) on this machine, with the command that
# made them (Command), the one GUID of that command (Correlation), the account
# that runs this (Blocks.AccountName), and the machine that asked (Asker, and
# over SSH the client's address), through Blocks.EventSink, each as lines of
# "Field: value" in which no value can make a line of its own. A record that
# could not be written is written again once, a moment later (the source may
# be new). A reason (Id, Values) when the records could not be written, else
# $null. It travels: a command's records on another machine are written
# there.
$script:EventWriter = {
    param([object[]]$Records, [string]$Correlation, [string]$Command, [string]$Asker, [hashtable]$Blocks)
    $user = & ([scriptblock]::Create($Blocks.AccountName))
    $address = ''
    if ($env:SSH_CONNECTION) { $address = @($env:SSH_CONNECTION -split ' ')[0] }
    # Control characters and lone surrogates, as ferrule shows them as ?, written as \uXXXX.
    $escape = {
        param([string]$Value)
        $text = New-Object System.Text.StringBuilder
        for ($i = 0; $i -lt $Value.Length; $i++) {
            $c = $Value[$i]
            $pair = [char]::IsHighSurrogate($c) -and $i + 1 -lt $Value.Length -and
                [char]::IsLowSurrogate($Value[$i + 1])
            if ($pair) {
                [void]$text.Append($c).Append($Value[++$i])
            } elseif ([char]::IsControl($c) -or [char]::IsSurrogate($c)) {
                [void]$text.AppendFormat('\u{0:x4}', [int]$c)
            } else {
                [void]$text.Append($c)
            }
        }
        $text.ToString()
    }
    $entries = @(foreach ($record in $Records) {
            $entry = [ordered]@{ EventId = [int]$record.EventId; Outcome = $record.Outcome; Correlation = $Correlation
                Command = $Command; Class = $record.Class; ComponentID = $record.ComponentID; Name = $record.Name
                Path = $record.Path; Before = $record.Before; After = $record.After
            }
            # What Windows changed beside was asked by nobody: the paths asked for on the machine, not a state wanted.
            if ($record.EventId -eq 1002) { $entry.Beside = $record.Beside } else { $entry.Wanted = $record.After }
            if ($record.EventId -eq 1001) { $entry.After = $null }
            $entry.User = $user
            $entry.Computer = [Environment]::MachineName
            $entry.AskedBy = $Asker
            $entry.ClientAddress = $address
            $entry.Output = $record.Output
            $entry.Time = [DateTime]::UtcNow.ToString('o')
            $entry
        })
    $sink = [scriptblock]::Create($Blocks.EventSink)
    $again = $true
    for ($i = 0; $i -lt $entries.Count; $i++) {
        $entry = $entries[$i]
        $text = @(foreach ($key in $entry.Keys) { "${key}: $(& $escape -Value ([string]$entry[$key]))" }) -join "`r`n"
        try {
            $null = & $sink -Entry $entry -Text $text
        } catch {
            if (-not $again) { return [pscustomobject]@{ Id = 'EventsNotWritten'; Values = @($_.Exception.Message) } }
            $again = $false
            $i--
            Start-Sleep -Seconds 1
        }
    }
    $null
}

# Writes each machine's records (Events, lists by computer name: '' for this
# machine) there, for the command of Cmdlet, under one Correlation GUID. A
# machine where they could not be written is one warning: its changes stand.
function Write-ChangeEvent {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [hashtable]$Events, [string]$Correlation)
    $command = $Cmdlet.MyInvocation.MyCommand.Name
    $asker = [Environment]::MachineName
    $blocks = Get-RemoteBlock
    $refused = @{}
    if ($Events.ContainsKey('') -and $Events[''].Count -gt 0) {
        $here = @{ Records = $Events[''].ToArray(); Correlation = $Correlation; Command = $command; Asker = $asker
            Blocks = $blocks
        }
        $refused[''] = & $script:EventWriter @here
    }
    $sessions = @(foreach ($one in $Session) {
            if ($Events.ContainsKey($one.ComputerName) -and $Events[$one.ComputerName].Count -gt 0) { $one } })
    if ($sessions.Count -gt 0) {
        $answers = Invoke-FanOut -Cmdlet $Cmdlet -Session $sessions -ThrottleLimit $ThrottleLimit `
            -Step $script:EventWriter -Stage ProgressEvents -ArgumentsFor {
            param($one)
            , @($Events[$one.ComputerName].ToArray(), $Correlation, $command, $asker, $blocks)
        }
        foreach ($computer in $answers.Keys) { $refused[$computer] = $answers[$computer] }
    }
    foreach ($computer in $refused.Keys) {
        $reason = $refused[$computer]
        if (-not $reason) { continue }
        $machine = $(if ($computer) { $computer } else { 'this machine' })
        $Cmdlet.WriteWarning((Get-Message -Id $reason.Id -Values (@($machine) + @($reason.Values))))
    }
}
