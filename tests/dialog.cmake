# Tests of the dialog.
