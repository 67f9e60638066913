# What wixl cannot write from Kestrin.wxs, added to the built installer with
# msibuild, one query a line: the folder at the end of the system's PATH
# ("=-*": set at install, removed at uninstall, the system's variable;
# "[~];" keeps what PATH held before), written and removed by the standard
# actions; and the PATH entry's feature left out when ADD_TO_PATH=0 is given.
CREATE TABLE `Environment` (`Environment` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL LOCALIZABLE, `Value` CHAR(255) LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Environment`)
INSERT INTO `Environment` (`Environment`, `Name`, `Value`, `Component_`) VALUES ('PATH', '=-*PATH', '[~];[INSTALLDIR]', 'PathEntry')
CREATE TABLE `Condition` (`Feature_` CHAR(38) NOT NULL, `Level` SHORT NOT NULL, `Condition` CHAR(255) PRIMARY KEY `Feature_`, `Level`)
INSERT INTO `Condition` (`Feature_`, `Level`, `Condition`) VALUES ('OnPath', 0, 'ADD_TO_PATH = "0"')
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveEnvironmentStrings', 3300)
INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteEnvironmentStrings', 5200)
