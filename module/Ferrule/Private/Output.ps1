# Reading ferrule's lines, and the errors that its failures become.

# A message of the table (en-US/Ferrule.strings.psd1) with its values.
function Get-Message {
    param([string]$Id, [object[]]$Values = @())
    $script:Messages[$Id] -f $Values
}

# An error: its ID (Ferrule.ID), its message (the table's ID, with Values,
# unless Message is given), naming the machine when it is another.
function New-ErrorRecord {
    param([string]$Id, [object[]]$Values = @(), [string]$Message, [System.Management.Automation.ErrorCategory]$Category,
        $Target, [string]$Computer = '')
    if (-not $Message) { $Message = Get-Message -Id $Id -Values $Values }
    if ($Computer) { $Message = "${Computer}: $Message" }
    $exception = New-Object System.InvalidOperationException $Message
    New-Object System.Management.Automation.ErrorRecord $exception, "Ferrule.$Id", $Category, $Target
}

# A run that ended otherwise than with its lines: a stop here ends the
# pipeline, a stop on another machine is an error for that machine; refused
# arguments are an error.
function Assert-Run {
    param($Cmdlet, $Run, $Target, [string]$Computer)
    if ($script:StoppedStatuses -contains $Run.Status) {
        $record = New-ErrorRecord -Id Stopped -Values $Run.Status -Category OperationStopped -Target $Target `
            -Computer $Computer
        if (-not $Computer) { $Cmdlet.ThrowTerminatingError($record) }
        $Cmdlet.WriteError($record)
        return $false
    }
    if ($Run.NotStarted) {
        $record = New-ErrorRecord -Id ExeNotStarted -Values $Run.NotStarted -Category ObjectNotFound -Target $Target `
            -Computer $Computer
        $Cmdlet.WriteError($record)
        return $false
    }
    if ($Run.Status -eq 255) {
        $record = New-ErrorRecord -Id ArgumentsRefused -Values ($Run.Lines -join ' ') -Category InvalidArgument `
            -Target $Target `
            -Computer $Computer
        $Cmdlet.WriteError($record)
        return $false
    }
    $true
}

# A failure line of ferrule's as an error of its ID; Label names the path it
# is about (else the path or component whose listing the line makes unknown).
function Write-Failure {
    param($Cmdlet, $Failure, $Target, [string]$Computer, [string]$Label)
    if (-not $Label -and $Failure.Path) { $Label = "$($Failure.ComponentID): $($Failure.Path)" }
    if (-not $Label -and $Failure.Unknown -eq 'Component') { $Label = $Failure.ComponentID }
    $message = Get-Message -Id FerruleLine -Values $Failure.Line
    if ($Label) { $message = Get-Message -Id FerruleLineOf -Values $Label, $Failure.Line }
    $message += Get-FailureHint -Failure $Failure
    $Cmdlet.WriteError((New-ErrorRecord -Id $Failure.Id -Message $message -Category $Failure.Category -Target $Target `
                -Computer $Computer))
}

# What to do about a failure, where there is one thing to do: access denied
# wants elevation, and a lock refused after its time-out (S_FALSE) wants the
# program that holds it gone; or what it leaves unknown; '' otherwise.
function Get-FailureHint {
    param($Failure)
    $hint = ''
    if ($Failure.Id -eq $script:FailureIds.PermissionDenied) { $hint = ' ' + (Get-Message -Id HintElevate) }
    if ($Failure.Id -eq 'LockNotTaken' -and $Failure.Line -match ' returned 1$') {
        $hint = ' ' + (Get-Message -Id HintLockHeld)
    }
    switch ($Failure.Unknown) {
        'Path' { $hint += ' ' + (Get-Message -Id UnknownPath) }
        'Component' { $hint += ' ' + (Get-Message -Id UnknownComponent) }
        'Class' { $hint += ' ' + (Get-Message -Id UnknownClass) }
    }
    $hint
}

# A failure line's call and code: "CALL returned CODE", or a failed apply's
# "Applying changes ... failed - error code CODE"; $null for any other line.
function Split-FailureLine {
    param([string]$Line)
    if ($Line -match '^(Applying changes \.\.\. failed - error code) ([0-9a-f]+)$' -or $Line `
        -match '^(.+) returned ([0-9a-f]+)$') {
        return [pscustomobject]@{ Call = $Matches[1]; Code = $Matches[2] }
    }
    $null
}

# The category and ID of a failure, from the table of failure lines; $null
# for a call that the table lacks. Access denied leaves unknown what the
# call's row says.
function Get-FailureCategory {
    param([string]$Call, [string]$Code)
    $found = $null
    foreach ($row in $script:FailureCategories) {
        if ($Call -match $row.Call) {
            $found = $row
            break
        }
    }
    if ($Code -ne $script:AccessDenied) { return $found }
    $denied = @{ Category = 'PermissionDenied'; Id = $script:FailureIds.PermissionDenied }
    if ($found) { $denied['Unknown'] = $found['Unknown'] }
    $denied
}

# One failure: its line, its Kind's category, ID (of the category, unless
# given) and what it leaves Unknown (Path, Component or Class), and the
# Binding whose state it leaves unknown (its Path too).
function New-Failure {
    param([string]$Line, [hashtable]$Kind, [string]$Code, [string]$ComponentID, $Binding)
    $id = $Kind['Id']
    if (-not $id) { $id = $script:FailureIds[$Kind['Category']] }
    $path = $(if ($Binding) { $Binding.Path } else { $null })
    [pscustomobject]@{ Line = $Line; Category = $Kind['Category']; Id = $id; Code = $Code; ComponentID = $ComponentID
        Unknown = $Kind['Unknown']; Path = $path; Binding = $Binding
    }
}

# Takes out of a listing's Paths what a failure line leaves Unknown: the path
# just read (Path), the paths of the component from index Start on
# (Component), or all (Class), or nothing; returns the path whose state was
# not read. A change's lines say what was done, and keep every path: there a
# path whose state was not read has $null for its state Before.
function Remove-Unknown {
    param([System.Collections.ArrayList]$Paths, [System.Collections.ArrayList]$Before, [string]$Unknown,
        [int]$Start, [switch]$Change)
    if (-not $Unknown) { return $null }
    $last = $Paths.Count - 1
    if ($Unknown -eq 'Path') {
        $binding = $Paths[$last]
        if ($Change) { $Before[$last] = $null } else { $Paths.RemoveAt($last) }
        return $binding
    }
    if ($Change) { return $null }
    if ($Unknown -eq 'Component') { $Paths.RemoveRange($Start, $Paths.Count - $Start) } else { $Paths.Clear() }
    $null
}

# What a line that is neither a path nor a heading says of a call's result.
# Applied: what an apply gave when it succeeded ('' for its line of success,
# else the code of a "failed" apply whose code is a success, the severity bit
# clear: 4a020 among them), $null for any other line. Otherwise the line is a
# failure, of a Kind (for New-Failure) and Code: its call's row of the table
# (a failed apply's whatever its code), else an open error. A path's state
# unread is said right after the path's line (AfterPath): anywhere else it
# is, as a line that names no call is, a line ferrule does not print
# (NotSpecified), which leaves nothing unknown.
function Read-ResultLine {
    param([string]$Line, [bool]$AfterPath)
    if ($Line -eq 'Applying changes ... success') { return [pscustomobject]@{ Applied = ''; Kind = $null; Code = '' } }
    $failed = $null
    if ($script:FailureEnd.IsMatch($Line)) { $failed = Split-FailureLine -Line $Line }
    if (-not $failed) { return [pscustomobject]@{ Applied = $null; Kind = @{ Category = 'NotSpecified' }; Code = '' } }
    $apply = $failed.Call -eq 'Applying changes ... failed - error code'
    if ($apply -and ([Convert]::ToInt64($failed.Code, 16) -band 0x80000000L) -eq 0) {
        return [pscustomobject]@{ Applied = $failed.Code; Kind = $null; Code = $failed.Code }
    }
    $kind = Get-FailureCategory -Call $failed.Call -Code $(if ($apply) { '' } else { $failed.Code })
    if (-not $kind) { $kind = @{ Category = 'OpenError'; Id = $script:FailureIds.OpenError } }
    if ($kind['Unknown'] -eq 'Path' -and -not $AfterPath) { $kind = @{ Category = 'NotSpecified' } }
    [pscustomobject]@{ Applied = $null; Kind = $kind; Code = $failed.Code }
}

# Reads one run's lines: the paths as Ferrule.Binding objects, each in the
# state it is left in (and in Before, the state each change line began from),
# and the failures. A path line is "    TOKEN: 1" in a listing, "    TOKEN:
# 1->0" in a change (-Change), and only that; a heading is "BINDNAME
# (DISPLAY NAME)", where both may hold " (": with Asked (the component a
# change asked for) a heading that begins with that bind name and " (" is
# that component's; any other is split at its first " (". Every other line
# says what a call gave (Read-ResultLine), and none of those ends with a
# heading's ")". A path belongs to the heading above it, unless a line that
# ferrule does not print came between them: then it belongs to none, and is
# an error (InvalidResult), as that line is (NotSpecified). What a failure
# leaves unknown is no path of a listing (Remove-Unknown). A path's binding
# is read as Ferrule.Binding reads a listing (on adapters, the bound
# component is ComponentID, the heading the adapter); Asked, Applied and the
# connection names of AdapterNames go by the heading's bind name; every path
# gets the MachineId and MachineName of Identity (its machine's, as
# Invoke-Run gives each machine), else none. (The objects are made, and the
# headings read, here, not by a function a line, which would cost more than
# the object.)
function Read-Output {
    param([string[]]$Lines, [string]$Class, [hashtable]$AdapterNames = @{}, [switch]$Change, [string]$Asked,
        $Identity)
    $pathLine = $(if ($Change) { $script:ChangeLine } else { $script:ListingLine })
    $machineId = $(if ($null -ne $Identity) { [string]$Identity.MachineId } else { '' })
    $machineName = $(if ($null -ne $Identity) { [string]$Identity.MachineName } else { '' })
    $askedHeading = "$Asked ("
    $paths = New-Object System.Collections.ArrayList
    $before = New-Object System.Collections.ArrayList
    $components = New-Object System.Collections.ArrayList
    $failures = New-Object System.Collections.ArrayList
    $displayNames = @{}
    $applied = @{}
    $trim = @{ Paths = $paths; Before = $before; Change = $Change }
    $under = $afterPath = $false
    $start = 0
    $componentId = $displayName = $name = $null
    foreach ($line in $Lines) {
        $previousPath = $afterPath
        $afterPath = $false
        $path = $pathLine.Match($line)
        if ($path.Success -and $under) {
            $afterPath = $true
            $state = $path.Groups[$path.Groups.Count - 1].Value -eq '1'
            [void]$paths.Add([Ferrule.Binding]::Listed($Class, $componentId, $displayName, $path.Groups[1].Value,
                $state, $name, $machineId, $machineName))
            if ($Change) { [void]$before.Add($path.Groups[2].Value -eq '1') }
            continue
        }
        if ($path.Success) {
            [void]$failures.Add((New-Failure -Line $line -Kind @{ Category = 'InvalidResult' } -Code ''))
            continue
        }
        $isAsked = $Asked -and $line.StartsWith($askedHeading, [StringComparison]::Ordinal) -and $line.EndsWith(')')
        if ($isAsked -or $line -match '^(.*?) \((.*)\)$') {
            $under = $true
            $componentId = $(if ($isAsked) { $Asked } else { $Matches[1] })
            $displayName = $(if ($isAsked) {
                    $line.Substring($askedHeading.Length, $line.Length - $askedHeading.Length - 1)
                } else { $Matches[2] })
            $start = $paths.Count
            [void]$components.Add($componentId)
            $displayNames[$componentId] = $displayName
            $name = $AdapterNames[$componentId]
            continue
        }
        $read = Read-ResultLine -Line $line -AfterPath $previousPath
        if ($null -ne $read.Applied) {
            $applied[$componentId] = $read.Applied
            continue
        }
        if ($read.Kind['Category'] -eq 'NotSpecified') { $under = $false }
        $unread = Remove-Unknown @trim -Unknown $read.Kind['Unknown'] -Start $start
        $failure = New-Failure -Line $line -Kind $read.Kind -Code $read.Code -ComponentID $componentId -Binding $unread
        [void]$failures.Add($failure)
    }
    [pscustomobject]@{ Paths = $paths; Before = $before; Components = $components.ToArray(); Failures = $failures
        Applied = $applied; DisplayNames = $displayNames
    }
}
