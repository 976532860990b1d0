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
# (Component), or all (Class); returns the path whose state was not read. A
# change's lines say what was done, and keep every path: there a path whose
# state was not read has $null for its state Before.
function Remove-Unknown {
    param([System.Collections.ArrayList]$Paths, [System.Collections.ArrayList]$Before, [string]$Unknown,
        [int]$Start, [switch]$Change)
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

# Reads one run's lines: the paths as Ferrule.Binding objects, each in the
# state it is left in (and in Before, the state each change line began from),
# and the failures. A path line is "    TOKEN: 1" in a listing, "    TOKEN:
# 1->0" in a change (-Change), and only that; a heading is "BINDNAME
# (DISPLAY NAME)", where both may hold " (": with Asked (the component a
# change asked for) a heading that begins with that bind name and " (" is
# that component's; any other is split at its first " (". Every line that
# names a failed call ends "returned CODE". A path belongs to the heading
# above it, unless a line that ferrule does not print came between them: then
# it belongs to none, and is an error (InvalidResult), as that line is
# (NotSpecified). What a failure leaves unknown is no path of a listing
# (Remove-Unknown); a path's state unread is said right after its line, and
# anywhere else is a line ferrule does not print. A path's binding is read as
# Ferrule.Binding reads a listing (on adapters, the bound component is
# ComponentID, the heading the adapter); Asked, Applied and the connection
# names of AdapterNames go by the heading's bind name; every path gets its
# machine's MachineId and MachineName. (The objects are made
# here, not by a function a path, which would cost more than the object.)
function Read-Output {
    param([string[]]$Lines, [string]$Class, [hashtable]$AdapterNames = @{}, [switch]$Change, [string]$Asked,
        [string]$MachineId, [string]$MachineName)
    $pathLine = $script:ListingLine
    if ($Change) { $pathLine = $script:ChangeLine }
    $heading = $null
    if ($Asked) { $heading = "$Asked (" }
    $paths = New-Object System.Collections.ArrayList
    $before = New-Object System.Collections.ArrayList
    $components = New-Object System.Collections.ArrayList
    $displayNames = @{}
    $failures = New-Object System.Collections.ArrayList
    $applied = @{}
    $under = $false
    $afterPath = $false
    $start = 0
    $componentId = $null
    $displayName = $null
    $name = $null
    foreach ($line in $Lines) {
        $previousPath = $afterPath
        $afterPath = $false
        $path = $pathLine.Match($line)
        if ($path.Success -and $under) {
            $afterPath = $true
            $state = $path.Groups[$path.Groups.Count - 1].Value -eq '1'
            [void]$paths.Add([Ferrule.Binding]::Listed($Class, $componentId, $displayName, $path.Groups[1].Value,
                $state, $name, $MachineId, $MachineName))
            if ($Change) { [void]$before.Add($path.Groups[2].Value -eq '1') }
            continue
        }
        if ($path.Success) {
            [void]$failures.Add((New-Failure -Line $line -Kind @{ Category = 'InvalidResult' } -Code '' `
                        -ComponentID $null))
            continue
        }
        if ($Asked -and $line.StartsWith($heading, [StringComparison]::Ordinal) -and $line.EndsWith(')')) {
            $under = $true
            $componentId = $Asked
            $start = $paths.Count
            [void]$components.Add($componentId)
            $displayName = $line.Substring($heading.Length, $line.Length - $heading.Length - 1)
            $displayNames[$componentId] = $displayName
            $name = $AdapterNames[$componentId]
            continue
        }
        if ($line -eq 'Applying changes ... success') {
            $applied[$componentId] = ''
            continue
        }
        $failed = $null
        if ($script:FailureEnd.IsMatch($line)) { $failed = Split-FailureLine -Line $line }
        if ($failed -and $failed.Call -eq 'Applying changes ... failed - error code' -and
            ([Convert]::ToInt64($failed.Code, 16) -band 0x80000000L) -eq 0) {
            # A success code (severity bit clear), 4a020 among them, is applied.
            $applied[$componentId] = $failed.Code
        } elseif ($failed) {
            # A failed apply is a WriteError whatever its code.
            $code = $failed.Code
            if ($failed.Call -eq 'Applying changes ... failed - error code') { $code = '' }
            $kind = Get-FailureCategory -Call $failed.Call -Code $code
            if (-not $kind) { $kind = @{ Category = 'OpenError'; Id = $script:FailureIds.OpenError } }
            if ($kind['Unknown'] -eq 'Path' -and -not $previousPath) {
                $kind = @{ Category = 'NotSpecified' }
                $under = $false
            }
            $unread = $null
            if ($kind['Unknown']) { $unread = Remove-Unknown -Paths $paths -Before $before -Unknown $kind['Unknown'] `
                -Start $start -Change:$Change }
            [void]$failures.Add((New-Failure -Line $line -Kind $kind -Code $failed.Code -ComponentID $componentId `
                        -Binding $unread))
        } elseif ($line -match '^(.*?) \((.*)\)$') {
            $under = $true
            $componentId = $Matches[1]
            $start = $paths.Count
            [void]$components.Add($componentId)
            $displayName = $Matches[2]
            $displayNames[$componentId] = $displayName
            $name = $AdapterNames[$componentId]
        } else {
            [void]$failures.Add((New-Failure -Line $line -Kind @{ Category = 'NotSpecified' } -Code '' `
                        -ComponentID $componentId))
            $under = $false
        }
    }
    [pscustomobject]@{ Paths = $paths; Before = $before; Components = $components.ToArray(); Failures = $failures
        Applied = $applied; DisplayNames = $displayNames
    }
}
