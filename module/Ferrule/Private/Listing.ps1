# Whole listings, for what a change does beside itself and for drift: every
# class asked for, on every machine asked for, one ferrule run a class and all
# machines at once.

# By computer name ('' for this machine): Classes, the paths of each class
# that was listed (Ferrule.Binding objects, marked with PSComputerName where
# the machine is another), Problems, why any other was not, Unknown, by
# class, the failures that left part of a listed class unknown (its paths are
# not among Classes'), and the machine's identity (MachineId, MachineName).
function Get-Listing {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [string[]]$Computers, [string[]]$Classes)
    $work = @{}
    foreach ($computer in $Computers) {
        $work[$computer] = @(foreach ($class in $Classes) { ConvertTo-CommandLine `
            -ArgumentList @('class', $script:ClassWords[$class]) })
    }
    $sessions = $null
    if ($Session) { $sessions = @(foreach ($one in $Session) { if ($Computers -contains $one.ComputerName) { $one } }) }
    $machines = Invoke-Run -Cmdlet $Cmdlet -Session $sessions -ThrottleLimit $ThrottleLimit -Work $work `
        -WithAdapterNames
    $result = @{}
    foreach ($computer in $Computers) {
        $byClass = @{}
        $unknown = @{}
        $problems = New-Object System.Collections.ArrayList
        $runs = @()
        if ($machines.ContainsKey($computer)) { $runs = @($machines[$computer].Runs) } else {
            [void]$problems.Add('it did not answer') }
        for ($i = 0; $i -lt $Classes.Count -and $machines.ContainsKey($computer); $i++) {
            $class = $Classes[$i]
            if ($i -ge $runs.Count) {
                [void]$problems.Add("class ${class}: not listed")
                continue
            }
            $machine = $machines[$computer]
            $output = Read-Output -Lines $runs[$i].Lines -Class $class -AdapterNames $machine.AdapterNames `
                -MachineId $machine.MachineId -MachineName $machine.MachineName
            $unread = @(foreach ($failure in $output.Failures) { if ($failure.Unknown) { $failure } })
            if (@(0, 1) -notcontains $runs[$i].Status -or $output.Failures.Count -gt $unread.Count) {
                $lines = @(foreach ($failure in $output.Failures) { $failure.Line }) + "exit status $($runs[$i].Status)"
                [void]$problems.Add("class ${class}: $($lines -join '; ')")
                continue
            }
            if ($computer) {
                foreach ($one in $output.Paths) { Add-Member -InputObject $one -NotePropertyName PSComputerName `
                    -NotePropertyValue $computer }
            }
            $byClass[$class] = [Ferrule.Binding[]]$output.Paths.ToArray([Ferrule.Binding])
            if ($unread.Count -gt 0) { $unknown[$class] = $unread }
        }
        $identity = $(if ($machines.ContainsKey($computer)) { $machines[$computer] } else { $null })
        $result[$computer] = [pscustomobject]@{ Classes = $byClass; Problems = $problems.ToArray(); Unknown = $unknown
            MachineId = $(if ($identity) { $identity.MachineId } else { $null })
            MachineName = $(if ($identity) { $identity.MachineName } else { $null })
        }
    }
    $result
}
