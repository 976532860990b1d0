# Listings: what ferrule lists on each machine, one ferrule run a class and
# all machines at once, read once into a Ferrule.Listing that every command
# works from (Get, the changes, drift, and what a change does beside).

# By computer name ('' for this machine), the Listing of each of Computers:
# Classes listed there, in that order. Narrow: words ferrule compares itself,
# given with the first class (a literal selector of Get's): that listing is
# then not of a whole class, and no change is made from it.
function Get-Listing {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [string[]]$Computers, [string[]]$Classes,
        [string[]]$Narrow = @())
    $lines = @(for ($i = 0; $i -lt $Classes.Count; $i++) {
            $words = @('class', $script:ClassWords[$Classes[$i]])
            if ($i -eq 0) { $words += $Narrow }
            ConvertTo-CommandLine -ArgumentList $words
        })
    $work = @{}
    foreach ($computer in $Computers) { $work[$computer] = $lines }
    $sessions = $null
    if ($Session) { $sessions = @(foreach ($one in $Session) { if ($Computers -contains $one.ComputerName) { $one } }) }
    $runArguments = @{ Cmdlet = $Cmdlet; Session = $sessions; ThrottleLimit = $ThrottleLimit; Work = $work
        WithAdapterNames = $Classes -contains 'Adapter'
    }
    $machines = Invoke-Run @runArguments
    $result = @{}
    foreach ($computer in $Computers) {
        $result[$computer] = ConvertTo-Listing -Computer $computer -Machine $machines[$computer] -Classes $Classes
        $result[$computer].Narrowed = $Narrow.Count -gt 0
    }
    $result
}

# One machine's answer (Invoke-Run's: a run a class, its adapters' names and
# its identity) as its Listing. Every path read is marked with
# PSComputerName where the machine is another.
function ConvertTo-Listing {
    param([string]$Computer, $Machine, [string[]]$Classes)
    $listing = New-Object Ferrule.Listing $Computer
    if ($null -eq $Machine) {
        $listing.Problems.Add('it did not answer')
        return , $listing
    }
    $listing.Answered = $true
    $listing.MachineId = $Machine.MachineId
    $listing.MachineName = $Machine.MachineName
    $listing.AdapterNames = $Machine.AdapterNames
    $runs = @($Machine.Runs)
    for ($i = 0; $i -lt $Classes.Count; $i++) {
        $class = $Classes[$i]
        if ($i -ge $runs.Count) {
            $listing.Problems.Add("class ${class}: not listed")
            continue
        }
        $output = Read-Output -Lines $runs[$i].Lines -Class $class -AdapterNames $Machine.AdapterNames `
            -Identity $Machine
        if ($Computer) {
            foreach ($one in $output.Paths) { Add-Member -InputObject $one -NotePropertyName PSComputerName `
                -NotePropertyValue $Computer }
        }
        $listing.Runs[$class] = $runs[$i]
        $listing.Outputs[$class] = $output
        Add-ListedClass -Listing $listing -Class $class -Run $runs[$i] -Output $output
    }
    , $listing
}

# Takes a class's run into its Listing: its paths, where the class was
# listed with nothing unknown but parts that its failures name (Unknown),
# and the keys of the paths ferrule cannot tell from another (Ambiguous);
# else why it was not listed (Problems).
function Add-ListedClass {
    param([Ferrule.Listing]$Listing, [string]$Class, $Run, $Output)
    $unread = @(foreach ($failure in $Output.Failures) { if ($failure.Unknown) { $failure } })
    if (@(0, 1) -notcontains $Run.Status -or $Output.Failures.Count -gt $unread.Count) {
        $lines = @(foreach ($failure in $Output.Failures) { $failure.Line })
        if ($Run.NotStarted) { $lines += $Run.NotStarted } else { $lines += "exit status $($Run.Status)" }
        $Listing.Problems.Add("class ${Class}: $($lines -join '; ')")
        return
    }
    $paths = [Ferrule.Binding[]]$Output.Paths.ToArray([Ferrule.Binding])
    $Listing.Classes[$Class] = $paths
    if ($unread.Count -gt 0) { $Listing.Unknown[$Class] = $unread }
    foreach ($one in [Ferrule.Selection]::Ambiguous($paths)) {
        $Listing.Ambiguous[[Ferrule.Binding]::KeyOf($one, $Listing.Computer)] = $true
    }
}
