# What PSScriptAnalyzer holds the module to, on the Windows runners: every rule
# of severity Error or Warning fails the job, but for these, each for its reason.
@{
    Severity = @('Error', 'Warning')
    ExcludeRules = @(
        # Test-Ferrule prints its progress as it happens, for a person or a CI
        # log to read; what it decides is the object it returns.
        'PSAvoidUsingWriteHost'
        # New-ErrorRecord and New-Failure make objects in memory and change
        # nothing: there is nothing for -WhatIf to spare.
        'PSUseShouldProcessForStateChangingFunctions'
        # The change commands ask ShouldProcess for each path through the
        # helper that plans the changes (Invoke-Change, Private/Change.ps1),
        # which the rule does not follow from one file into another.
        'PSShouldProcess'
        # The change commands hand their parameters on whole ($PSBoundParameters)
        # to the step that each input takes, which the rule does not follow.
        'PSReviewUnusedParameter'
    )
}
