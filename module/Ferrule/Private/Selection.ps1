# Selecting bindings: which listing to ask ferrule for, and which of its paths
# a selection names.

function Test-Wildcard {
    param([string]$Value)
    [System.Management.Automation.WildcardPattern]::ContainsWildcardCharacters($Value)
}

# Whether values are one value without wildcards.
function Test-Literal {
    param([string[]]$Values)
    $null -ne $Values -and $Values.Count -eq 1 -and -not (Test-Wildcard -Value $Values[0])
}

function Test-Like {
    param([string]$Value, [string[]]$Patterns)
    foreach ($pattern in $Patterns) {
        if ($Value -like $pattern) { return $true }
    }
    $false
}

# The words of one listing: ferrule compares a single value without wildcards
# itself (as Windows compares names); anything else is filtered here.
function Get-ListingArgument {
    param([string]$Class, [string[]]$ComponentID, [string[]]$Path)
    $arguments = @('class', $script:ClassWords[$Class])
    if (Test-Literal -Values $ComponentID) { $arguments += 'comp', $ComponentID[0] }
    if (Test-Literal -Values $Path) { $arguments += 'path', $Path[0] }
    $arguments
}

# The bindings that a selection names, from one listing on each machine at
# once: as they come, marked with PSComputerName where the machine is
# another. -Name stands for the adapters of those connection names on each
# machine. A selection that matches nothing on a machine is an error for
# that machine; a class without paths is not. Failures are errors, each for
# its machine, and a listing that could not be made gives nothing at all.
function Get-Selected {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [string]$Class, [string[]]$ComponentID,
        [string[]]$Path, [string[]]$DisplayName, [string[]]$Name)
    $selection = "-Class $Class"
    foreach ($part in @(@('Name', $Name), @('ComponentID', $ComponentID), @('Path', $Path), @('DisplayName', $DisplayName))) {
        if ($part[1]) { $selection += " -$($part[0]) $($part[1] -join ',')" }
    }
    $passedIds = $ComponentID
    if ($Name) { $passedIds = $null }
    $arguments = @(Get-ListingArgument -Class $Class -ComponentID $passedIds -Path $Path)
    $filterIds = $ComponentID -and $arguments -notcontains 'comp'
    $filterPaths = $Path -and $arguments -notcontains 'path'
    $commandLine = ConvertTo-CommandLine -ArgumentList $arguments
    $work = @{}
    foreach ($computer in (Get-SessionComputer -Session $Session)) { $work[$computer] = @($commandLine) }
    $machines = Invoke-Run -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit -Work $work `
        -WithAdapterNames:($Class -eq 'Adapter')
    foreach ($computer in (Get-SessionComputer -Session $Session)) {
        if (-not $machines.ContainsKey($computer)) { continue }
        $machine = $machines[$computer]
        $ids = $null
        if ($Name) {
            $names = $machine.AdapterNames
            foreach ($one in $Name) {
                if (-not (Test-Wildcard -Value $one) -and -not ($names.Values -contains $one)) {
                    $Cmdlet.WriteError((New-ErrorRecord -Message "No network adapter is named '$one'." -Category ObjectNotFound `
                                -Target $one -Computer $computer))
                }
            }
            $ids = @($names.Keys | Where-Object { Test-Like -Value $names[$_] -Patterns $Name })
            if ($ids.Count -eq 0) { continue }
        }
        if ($machine.Runs.Count -eq 0) { continue }
        $run = $machine.Runs[0]
        if (-not (Assert-Run -Cmdlet $Cmdlet -Run $run -Target $selection -Computer $computer)) { continue }
        $output = Read-Output -Lines $run.Lines -Class $Class -AdapterNames $machine.AdapterNames
        foreach ($failure in $output.Failures) { Write-Failure -Cmdlet $Cmdlet -Failure $failure -Target $selection -Computer $computer }
        $selected = $output.Paths
        if ($filterIds -or $filterPaths -or $DisplayName -or $ids) {
            $selected = @(foreach ($one in $output.Paths) {
                    if ($ids -and $ids -notcontains $one.ComponentID) { continue }
                    if ($filterIds -and -not (Test-Like -Value $one.ComponentID -Patterns $ComponentID)) { continue }
                    if ($filterPaths -and -not (Test-Like -Value $one.Path -Patterns $Path)) { continue }
                    if ($DisplayName -and -not (Test-Like -Value $one.DisplayName -Patterns $DisplayName)) { continue }
                    $one
                })
        }
        if ($computer) {
            foreach ($one in $selected) { Add-Member -InputObject $one -NotePropertyName PSComputerName -NotePropertyValue $computer }
        }
        $selected
        if ($selected.Count -eq 0 -and $output.Failures.Count -eq 0 -and ($Name -or $ComponentID -or $Path -or $DisplayName)) {
            $Cmdlet.WriteError((New-ErrorRecord -Message "No binding path matches $selection." -Category ObjectNotFound `
                        -Target $selection -Computer $computer))
        }
    }
}
