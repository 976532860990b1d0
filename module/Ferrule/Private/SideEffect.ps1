# What Windows changes beside a change: every class is listed on each machine
# before its first change and after its last (at most two listings of a class
# a machine and command: a listing the command made already serves as the
# first), and a path whose state changed without being asked for is reported.

# Says in the -Verbose trail that these classes are listed on these machines
# for what Windows changes beside the changes.
function Write-SideEffectListing {
    param($Cmdlet, [string[]]$Computers, [string[]]$Classes)
    $machines = @(foreach ($computer in $Computers) { if ($computer) { $computer } else {
        [Environment]::MachineName } }) -join ', '
    foreach ($class in $Classes) { $Cmdlet.WriteVerbose((Get-Message -Id VerboseListing -Values $machines, $class)) }
}

# The listings before the changes on these machines: those the command has
# made (Listings, by class and then by computer), and one of every other class.
function Get-ListingBefore {
    param($Cmdlet, [object[]]$Session, [int]$ThrottleLimit, [string[]]$Computers, [hashtable]$Listings)
    $result = @{}
    $missing = @{}
    foreach ($computer in $Computers) {
        $result[$computer] = [pscustomobject]@{ Classes = @{}; Problems = @(); Unknown = @{} }
        $lacking = @()
        foreach ($class in $script:ClassWords.Keys) {
            if ($Listings -and $Listings.ContainsKey($class) -and $Listings[$class].ContainsKey($computer)) {
                $result[$computer].Classes[$class] = $Listings[$class][$computer]
            } else {
                $lacking += $class
            }
        }
        if ($lacking.Count -eq 0) { continue }
        $key = $lacking -join ','
        if (-not $missing.ContainsKey($key)) { $missing[$key] = New-Object System.Collections.ArrayList }
        [void]$missing[$key].Add($computer)
    }
    foreach ($key in $missing.Keys) {
        Write-SideEffectListing -Cmdlet $Cmdlet -Computers $missing[$key].ToArray() -Classes ($key -split ',')
        $listed = Get-Listing -Cmdlet $Cmdlet -Session $Session -ThrottleLimit $ThrottleLimit `
            -Computers $missing[$key].ToArray() `
            -Classes ($key -split ',')
        foreach ($computer in $listed.Keys) {
            foreach ($class in $listed[$computer].Classes.Keys) {
                $result[$computer].Classes[$class] = $listed[$computer].Classes[$class] }
            $result[$computer].Problems = $listed[$computer].Problems
            $result[$computer].Unknown = $listed[$computer].Unknown
        }
    }
    $result
}

# Warns of each path whose state changed between Before and After (listings
# by computer) that was not Asked (keys of Get-BindingKey); with -PassThru,
# gives it too, marked SideEffect; its event record goes to Events (lists by
# computer). A machine whose listings are not whole (a part left unknown
# included) is warned of instead: its changes stand as reported.
function Write-SideEffect {
    param($Cmdlet, [hashtable]$Before, [hashtable]$After, [hashtable]$Asked, [switch]$PassThru, [hashtable]$Events)
    foreach ($computer in $After.Keys) {
        $problems = @($Before[$computer].Problems) + @($After[$computer].Problems)
        foreach ($listing in $Before[$computer], $After[$computer]) {
            foreach ($class in $listing.Unknown.Keys) {
                $lines = @(foreach ($failure in $listing.Unknown[$class]) { $failure.Line })
                $problems += "class ${class}: $($lines -join '; ')"
            }
        }
        $machine = $(if ($computer) { $computer } else { 'this machine' })
        if ($problems.Count -gt 0) {
            $Cmdlet.WriteWarning((Get-Message -Id SideEffectsUnchecked -Values $machine, ($problems -join ' | ')))
            continue
        }
        # Keys as Get-BindingKey makes them, made here: a listing may have tens of thousands of paths.
        $was = @{}
        foreach ($bindings in $Before[$computer].Classes.Values) {
            foreach ($one in $bindings) {
                $key = "$computer`n$($one.Class)`n$($one.ComponentID)`n$($one.InterfaceGuid)`n$($one.Path)"
                $was[$key] = $one.Enabled
            }
        }
        foreach ($class in $script:ClassWords.Keys) {
            foreach ($one in @($After[$computer].Classes[$class])) {
                if ($null -eq $one) { continue }
                $key = "$computer`n$($one.Class)`n$($one.ComponentID)`n$($one.InterfaceGuid)`n$($one.Path)"
                if (-not $was.ContainsKey($key) -or $was[$key] -eq $one.Enabled -or
                    $Asked.ContainsKey($key)) { continue }
                $state = $(if ($one.Enabled) { 'enabled' } else { 'disabled' })
                $Cmdlet.WriteWarning((Get-Message -Id SideEffect -Values (Get-BindingLabel -Binding $one), $state))
                [void]$Events[$computer].Add((New-ChangeEvent -Id 1002 -Binding $one -Before $was[$key] `
                    -After $one.Enabled))
                if ($PassThru) {
                    $side = Copy-Binding -Binding $one
                    $side.SideEffect = $true
                    $side
                }
            }
        }
    }
}
