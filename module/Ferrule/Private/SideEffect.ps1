# What Windows changes beside a change: every class is listed on each machine
# before its first change and after its last (at most two listings of a class
# a machine and command: the listing the change was planned from serves as
# the first), and a path whose state changed without being asked for is
# reported.

# Says in the -Verbose trail that these classes are listed on these machines
# for what Windows changes beside the changes.
function Write-SideEffectListing {
    param($Cmdlet, [string[]]$Computers, [string[]]$Classes)
    $machines = @(foreach ($computer in $Computers) { if ($computer) { $computer } else {
        [Environment]::MachineName } }) -join ', '
    foreach ($class in $Classes) { $Cmdlet.WriteVerbose((Get-Message -Id VerboseListing -Values $machines, $class)) }
}

# Each machine's Listing before the changes: the one the change was planned
# from (Listings, by computer), with the classes it lacks listed now.
function Get-ListingBefore {
    param($Cmdlet, [hashtable]$Bound, [string[]]$Computers, [hashtable]$Listings)
    $result = @{}
    $lacking = @{}
    foreach ($computer in $Computers) {
        $listing = $Listings[$computer]
        $result[$computer] = $listing
        $lacking[$computer] = @(foreach ($class in $script:ClassWords.Keys) {
                if ($null -eq $listing -or $listing.Narrowed -or -not $listing.Classes.ContainsKey($class)) { $class }
            })
    }
    $listed = Get-SideEffectListing -Cmdlet $Cmdlet -Bound $Bound -Classes $lacking
    foreach ($computer in $listed.Keys) {
        $result[$computer] = Join-Listing -First $result[$computer] -Second $listed[$computer]
    }
    $result
}

# Each machine's Listing after the changes: every class but those that had
# no path before (a state can change only on a path there was).
function Get-ListingAfter {
    param($Cmdlet, [hashtable]$Bound, [hashtable]$Before)
    $classes = @{}
    foreach ($computer in $Before.Keys) {
        $listing = $Before[$computer]
        $classes[$computer] = @(foreach ($class in $script:ClassWords.Keys) {
                $paths = $listing.Classes[$class]
                if ($null -eq $paths -or $paths.Count -gt 0) { $class }
            })
    }
    Get-SideEffectListing -Cmdlet $Cmdlet -Bound $Bound -Classes $classes
}

# The Listings, by computer, of the Classes each machine is to list (by
# computer) for what Windows changes beside, said in the -Verbose trail:
# the machines that list the same classes at once. A machine with none to
# list has an empty Listing.
function Get-SideEffectListing {
    param($Cmdlet, [hashtable]$Bound, [hashtable]$Classes)
    $result = @{}
    $alike = @{}
    foreach ($computer in $Classes.Keys) {
        $key = @($Classes[$computer]) -join ','
        if (-not $key) {
            $result[$computer] = New-Object Ferrule.Listing $computer
            continue
        }
        if (-not $alike.ContainsKey($key)) { $alike[$key] = New-Object System.Collections.ArrayList }
        [void]$alike[$key].Add($computer)
    }
    foreach ($key in $alike.Keys) {
        $computers = [string[]]$alike[$key].ToArray()
        Write-SideEffectListing -Cmdlet $Cmdlet -Computers $computers -Classes ($key -split ',')
        $listingArguments = @{ Cmdlet = $Cmdlet; Session = $Bound['Session']; Computers = $computers
            Classes = [string[]]($key -split ','); ThrottleLimit = Get-ThrottleLimit -Bound $Bound
        }
        $listed = Get-Listing @listingArguments
        foreach ($computer in $listed.Keys) { $result[$computer] = $listed[$computer] }
    }
    $result
}

# One Listing of a machine from two of it: the First's classes, and the
# Second's, made of every class the First lacks (why the First could not
# list one is then no longer so).
function Join-Listing {
    param($First, [Ferrule.Listing]$Second)
    if ($null -eq $First -or $First.Narrowed) { return , $Second }
    $joined = New-Object Ferrule.Listing $Second.Computer
    $joined.Answered = $First.Answered -and $Second.Answered
    foreach ($listing in $First, $Second) {
        foreach ($class in $listing.Classes.Keys) {
            $joined.Classes[$class] = $listing.Classes[$class]
            if ($listing.Unknown.ContainsKey($class)) { $joined.Unknown[$class] = $listing.Unknown[$class] }
        }
    }
    foreach ($problem in $Second.Problems) { $joined.Problems.Add($problem) }
    , $joined
}

# What a machine's listings leave unchecked (Before and After, its
# Listings): why any class was not listed, and the parts left unknown.
function Get-UncheckedPart {
    param([Ferrule.Listing]$Before, [Ferrule.Listing]$After)
    foreach ($listing in $Before, $After) {
        foreach ($problem in $listing.Problems) { $problem }
        foreach ($class in $listing.Unknown.Keys) {
            $lines = @(foreach ($failure in $listing.Unknown[$class]) { $failure.Line })
            "class ${class}: $($lines -join '; ')"
        }
    }
}

# Each path whose state changed between Before and After (Listings by
# computer) that no step asked for (Asked: their keys): a warning, its event
# record (a Ferrule.ChangeRecord, given for the caller to keep, that names
# the paths asked for on its machine: Beside, by computer) and, with
# -PassThru, the binding marked SideEffect. A machine whose listings are not
# whole (a part left unknown included) is warned of instead: its changes
# stand as reported.
function Write-SideEffect {
    param($Cmdlet, [hashtable]$Before, [hashtable]$After, [hashtable]$Asked, [hashtable]$Beside, [switch]$PassThru)
    foreach ($computer in $After.Keys) {
        $problems = @(Get-UncheckedPart -Before $Before[$computer] -After $After[$computer])
        $machine = $(if ($computer) { $computer } else { 'this machine' })
        if ($problems.Count -gt 0) {
            $Cmdlet.WriteWarning((Get-Message -Id SideEffectsUnchecked -Values $machine, ($problems -join ' | ')))
            continue
        }
        $was = @{}
        foreach ($bindings in $Before[$computer].Classes.Values) {
            foreach ($one in $bindings) { $was[[Ferrule.Binding]::KeyOf($one, $computer)] = $one.Enabled }
        }
        foreach ($class in $script:ClassWords.Keys) {
            foreach ($one in @($After[$computer].Classes[$class])) {
                if ($null -eq $one) { continue }
                $key = [Ferrule.Binding]::KeyOf($one, $computer)
                if (-not $was.ContainsKey($key) -or $was[$key] -eq $one.Enabled -or
                    $Asked.ContainsKey($key)) { continue }
                $state = $(if ($one.Enabled) { 'enabled' } else { 'disabled' })
                $Cmdlet.WriteWarning((Get-Message -Id SideEffect -Values (Get-BindingLabel -Binding $one), $state))
                $record = New-ChangeEvent -Id 1002 -Binding $one -Before $was[$key] -After $one.Enabled
                $record.Computer = $computer
                $record.Beside = $Beside[$computer]
                $record
                if ($PassThru) {
                    $side = Copy-Binding -Binding $one
                    $side.SideEffect = $true
                    $side
                }
            }
        }
    }
}
