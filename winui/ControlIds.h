#pragma once
// The identifiers of the native window program's resources and controls:
// the dialog templates and the popup menu of resources/Forms.rc, the
// controls of each window, and the menu commands. The resource compiler
// reads this header too, so it holds plain macros only. Each control keeps
// the name of its form: IDC_<control>.

// Dialog templates and the popup menu.
#define IDD_Tfrmcreatepart 100
#define IDD_Tfrmpartstyle 101
#define IDD_Tfrmdisks 102
#define IDD_InputBox 103
#define IDM_PopupMenu1 110

// The OK and Cancel buttons of the create-partition and partition-style
// dialogs and of the input box are the system's own: Enter presses the
// first, Escape and the title bar's close button the second, and their
// numbers are the modal results, OK 1 and Cancel 2.
#define IDC_btnok 1     /* IDOK */
#define IDC_btncancel 2 /* IDCANCEL */

// Tfrmparteditor, the main window (not a dialog: its controls are made in code).
#define IDC_GroupBox1 1000
#define IDC_ListView1 1001
#define IDC_StatusBar1 1002

// Tfrmcreatepart.
#define IDC_Label1 1010
#define IDC_Label2 1011
#define IDC_Label3 1012
#define IDC_txtoffset 1013
#define IDC_txtsize 1014
#define IDC_chkboot 1015
#define IDC_cmb_type 1016

// Tfrmpartstyle.
#define IDC_rbmbr 1020
#define IDC_rbgpt 1021
#define IDC_rbraw 1022

// Tfrmdisks. Its buttons are no default or cancel button; Enter and Escape
// (IDOK and IDCANCEL from the dialog manager) do what they do.
#define IDC_lvdisks 1030
#define IDC_frmdisks_btnok 1031
#define IDC_frmdisks_btncancel 1032

// The one-line input box: the prompt text and the edit field.
#define IDC_InputPrompt 1040
#define IDC_InputText 1041

// The items of PopupMenu1, in menu order.
#define IDM_CreateDisk1 2001
#define IDM_DeleteDriveLayout1 2002
#define IDM_CreatePartition1 2003
#define IDM_DeletePa1 2004
#define IDM_ChangePartition1 2005
#define IDM_ChangePartitionBootMBR1 2006
#define IDM_ChangeDiskID1 2007
#define IDM_SetasPartitionNumber11 2008
#define IDM_ChangePartitionTypeGPT1 2009
#define IDM_ChangePartitionAttributesGPT1 2010
#define IDM_Refresh1 2011
#define IDM_SelectanotherDISK1 2012
