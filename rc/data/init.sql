-- The template book: every new book starts as a copy of the file made from this script.
-- Column order, declared types, defaults and constraint names are the book file format that
-- other installations and the web service rely on; change nothing here without an upgrade step.
PRAGMA page_size = 1024;
PRAGMA encoding = 'UTF-8';
PRAGMA auto_vacuum = NONE;

BEGIN TRANSACTION;

CREATE TABLE [tbl_setting] (
    [user_id] NVARCHAR(36),
    [username] nvarchar(255),
    [password] nvarchar(255),
    [sync_username] NVARCHAR(255),
    [sync_password] NVARCHAR(255),
    [salt] nvarchar(50),
    [sync_time] TIMESTAMP,
    [version] NUMBER);

CREATE TABLE [android_metadata] (
    [locale] TEXT DEFAULT 'zh_CN');

-- Bills and their tombstones.
CREATE TABLE [tbl_bill] (
    [id] VARCHAR(36) NOT NULL,
    [user_id] INTEGER DEFAULT 0,
    [title] NVARCHAR(50),
    [amount] FLOAT NOT NULL,
    [description] NVARCHAR(1000) NOT NULL,
    [date] DATE NOT NULL,
    [month] INTEGER NOT NULL,
    [category_id] VARCHAR(36) DEFAULT 0,
    [sub_category_id] NVARCHAR(36),
    [account_id] VARCHAR(36) DEFAULT 0,
    [to_account_id] VARCHAR(36) DEFAULT 0,
    [borrower_id] VARCHAR(36),
    [member_id] NVARCHAR(36),
    [kind] NVARCHAR(10) NOT NULL,
    [created_time] TIMESTAMP DEFAULT CURRENT_TIMESTAMP,
    [version] TIMESTAMP DEFAULT CURRENT_TIMESTAMP,
    CONSTRAINT [sqlite_autoindex_tbl_bill_1] PRIMARY KEY ([id]));

CREATE TABLE [tbl_bill_deleted] (
    [id] VARCHAR(36) NOT NULL,
    [user_id] INTEGER DEFAULT 0,
    [title] NVARCHAR(50),
    [amount] FLOAT NOT NULL,
    [description] NVARCHAR(1000) NOT NULL,
    [date] DATE NOT NULL,
    [month] INTEGER NOT NULL,
    [category_id] VARCHAR(36) DEFAULT 0,
    [sub_category_id] NVARCHAR(36),
    [account_id] VARCHAR(36) DEFAULT 0,
    [to_account_id] VARCHAR(36) DEFAULT 0,
    [borrower_id] VARCHAR(36),
    [member_id] NVARCHAR(36),
    [kind] NVARCHAR(10) NOT NULL,
    [created_time] TIMESTAMP DEFAULT CURRENT_TIMESTAMP,
    [version] TIMESTAMP DEFAULT CURRENT_TIMESTAMP,
    CONSTRAINT [sqlite_autoindex_tbl_bill_deleted_1] PRIMARY KEY ([id]));

-- Accounts.
CREATE TABLE [tbl_account] (
    [id] VARCHAR(36) NOT NULL,
    [user_id] integer DEFAULT 0,
    [name] nvarchar(20) NOT NULL,
    [kind] nvarchar(10) NOT NULL,
    [amount] float NOT NULL,
    [description] NVARCHAR(50),
    [sort] INTEGER DEFAULT 0,
    [version] TIMESTAMP DEFAULT CURRENT_TIMESTAMP,
    CONSTRAINT [sqlite_autoindex_tbl_account_1] PRIMARY KEY ([id]));

CREATE TABLE [tbl_account_deleted] (
    [id] VARCHAR(36) NOT NULL,
    [user_id] integer DEFAULT 0,
    [name] nvarchar(20) NOT NULL,
    [kind] nvarchar(10) NOT NULL,
    [amount] float NOT NULL,
    [description] NVARCHAR(50),
    [sort] INTEGER DEFAULT 0,
    [version] TIMESTAMP DEFAULT CURRENT_TIMESTAMP,
    CONSTRAINT [sqlite_autoindex_tbl_account_deleted_1] PRIMARY KEY ([id]));

-- Borrowers.
CREATE TABLE [tbl_borrower] (
    [id] VARCHAR(36) NOT NULL,
    [user_id] INTEGER DEFAULT 0,
    [name] CHAR(20) NOT NULL,
    [kind] CHAR(10),
    [description] NVARCHAR(50),
    [sort] INTEGER DEFAULT 0,
    [version] TIMESTAMP DEFAULT CURRENT_TIMESTAMP,
    CONSTRAINT [sqlite_autoindex_tbl_borrower_1] PRIMARY KEY ([id]));

CREATE TABLE [tbl_borrower_deleted] (
    [id] VARCHAR(36) NOT NULL,
    [user_id] INTEGER DEFAULT 0,
    [name] CHAR(20) NOT NULL,
    [kind] CHAR(10),
    [description] NVARCHAR(50),
    [sort] INTEGER DEFAULT 0,
    [version] TIMESTAMP DEFAULT CURRENT_TIMESTAMP,
    CONSTRAINT [sqlite_autoindex_tbl_borrower_deleted_1] PRIMARY KEY ([id]));

-- Top categories and sub-categories.
CREATE TABLE [tbl_category] (
    [id] VARCHAR(36) NOT NULL,
    [user_id] int DEFAULT 0,
    [name] NVARCHAR(20) NOT NULL,
    [kind] nvarchar(10) NOT NULL,
    [description] NVARCHAR(50),
    [sort] INTEGER DEFAULT 0,
    [version] TIMESTAMP DEFAULT CURRENT_TIMESTAMP,
    CONSTRAINT [sqlite_autoindex_tbl_category_1] PRIMARY KEY ([id]));

CREATE TABLE [tbl_category_deleted] (
    [id] VARCHAR(36) NOT NULL,
    [user_id] int DEFAULT 0,
    [name] NVARCHAR(20) NOT NULL,
    [kind] nvarchar(10) NOT NULL,
    [description] NVARCHAR(50),
    [sort] INTEGER DEFAULT 0,
    [version] TIMESTAMP DEFAULT CURRENT_TIMESTAMP,
    CONSTRAINT [sqlite_autoindex_tbl_category_deleted_1] PRIMARY KEY ([id]));

CREATE TABLE [tbl_sub_category] (
    [id] VARCHAR(36) NOT NULL,
    [category_id] VARCHAR(36) NOT NULL,
    [user_id] int DEFAULT 0,
    [name] NVARCHAR(20) NOT NULL,
    [kind] nvarchar(10) NOT NULL,
    [description] NVARCHAR(50),
    [sort] INTEGER DEFAULT 0,
    [version] TIMESTAMP DEFAULT CURRENT_TIMESTAMP,
    CONSTRAINT [sqlite_autoindex_tbl_sub_category_1] PRIMARY KEY ([id]));

CREATE TABLE [tbl_sub_category_deleted] (
    [id] VARCHAR(36) NOT NULL,
    [category_id] VARCHAR(36) NOT NULL,
    [user_id] int DEFAULT 0,
    [name] NVARCHAR(20) NOT NULL,
    [kind] nvarchar(10) NOT NULL,
    [description] NVARCHAR(50),
    [sort] INTEGER DEFAULT 0,
    [version] TIMESTAMP DEFAULT CURRENT_TIMESTAMP,
    CONSTRAINT [sqlite_autoindex_tbl_sub_category_deleted_1] PRIMARY KEY ([id]));

-- Members.
CREATE TABLE [tbl_member] (
    [id] VARCHAR(36) NOT NULL,
    [user_id] int DEFAULT 0,
    [name] NVARCHAR(20) NOT NULL,
    [description] NVARCHAR(50),
    [sort] INTEGER DEFAULT 0,
    [version] TIMESTAMP DEFAULT CURRENT_TIMESTAMP,
    CONSTRAINT [sqlite_autoindex_tbl_member_1] PRIMARY KEY ([id]));

CREATE TABLE [tbl_member_deleted] (
    [id] VARCHAR(36) NOT NULL,
    [user_id] int DEFAULT 0,
    [name] NVARCHAR(20) NOT NULL,
    [description] NVARCHAR(50),
    [sort] INTEGER DEFAULT 0,
    [version] TIMESTAMP DEFAULT CURRENT_TIMESTAMP,
    CONSTRAINT [sqlite_autoindex_tbl_member_deleted_1] PRIMARY KEY ([id]));

-- Budgets: kept in the file for the mobile application; the desktop program never touches them.
CREATE TABLE [tbl_budget] (
    [id] VARCHAR(36),
    [user_id] INTEGER,
    [start_date] DATE,
    [end_date] DATE,
    [description] NVARCHAR(10),
    [version] TIMESTAMP DEFAULT CURRENT_TIMESTAMP,
    CONSTRAINT [sqlite_autoindex_tbl_budget_1] PRIMARY KEY ([id]));

CREATE TABLE [tbl_budget_deleted] (
    [id] VARCHAR(36),
    [user_id] INTEGER,
    [start_date] DATE,
    [end_date] DATE,
    [description] NVARCHAR(10),
    [version] TIMESTAMP DEFAULT CURRENT_TIMESTAMP,
    CONSTRAINT [sqlite_autoindex_tbl_budget_deleted_1] PRIMARY KEY ([id]));

CREATE TABLE [tbl_budget_item] (
    [id] NVARCHAR(36) NOT NULL,
    [budget_id] NVARCHAR(36) NOT NULL,
    [category_id] NVARCHAR(36) NOT NULL,
    [sub_category_id] NVARCHAR(36) NOT NULL,
    [amount] FLOAT NOT NULL,
    [description] NVARCHAR(20),
    [version] TIMESTAMP DEFAULT CURRENT_TIMESTAMP,
    CONSTRAINT [sqlite_autoindex_tbl_budget_item_1] PRIMARY KEY ([id]));

CREATE TABLE [tbl_budget_item_deleted] (
    [id] NVARCHAR(36) NOT NULL,
    [budget_id] NVARCHAR(36) NOT NULL,
    [category_id] NVARCHAR(36) NOT NULL,
    [sub_category_id] NVARCHAR(36) NOT NULL,
    [amount] FLOAT NOT NULL,
    [description] NVARCHAR(20),
    [version] TIMESTAMP DEFAULT CURRENT_TIMESTAMP,
    CONSTRAINT [sqlite_autoindex_tbl_budget_item_deleted_1] PRIMARY KEY ([id]));

-- Change stamps: an edit that leaves version and id alone stamps the row with the current time;
-- a write of another version (synchronisation, default records) keeps the written value.
CREATE TRIGGER [bill_updated] AFTER UPDATE ON [tbl_bill] FOR EACH ROW
    WHEN old.version = new.version and old.id=new.id
    BEGIN UPDATE tbl_bill Set version = CURRENT_TIMESTAMP where id = new.id; END;
CREATE TRIGGER [account_updated] AFTER UPDATE ON [tbl_account] FOR EACH ROW
    WHEN old.version = new.version and old.id=new.id
    BEGIN UPDATE tbl_account Set version = CURRENT_TIMESTAMP where id = new.id; END;
CREATE TRIGGER [borrow_updated] AFTER UPDATE ON [tbl_borrower] FOR EACH ROW
    WHEN old.version = new.version and old.id=new.id
    BEGIN UPDATE tbl_borrower Set version = CURRENT_TIMESTAMP where id = new.id; END;
CREATE TRIGGER [category_updated] AFTER UPDATE ON [tbl_category] FOR EACH ROW
    WHEN old.version = new.version and old.id=new.id
    BEGIN UPDATE tbl_category Set version = CURRENT_TIMESTAMP where id = new.id; END;
CREATE TRIGGER [sub_category_updated] AFTER UPDATE ON [tbl_sub_category] FOR EACH ROW
    WHEN old.version = new.version and old.id=new.id and length(old.category_id) = length(new.category_id)
    BEGIN UPDATE tbl_sub_category Set version = CURRENT_TIMESTAMP where id = new.id; END;
CREATE TRIGGER [member_updated] AFTER UPDATE ON [tbl_member] FOR EACH ROW
    WHEN old.version = new.version and old.id=new.id
    BEGIN UPDATE tbl_member Set version = CURRENT_TIMESTAMP where id = new.id; END;
CREATE TRIGGER [budget_updated] AFTER UPDATE ON [tbl_budget] FOR EACH ROW
    WHEN old.version = new.version and old.id=new.id
    BEGIN UPDATE tbl_budget Set version = CURRENT_TIMESTAMP where id = new.id; END;
CREATE TRIGGER [budget_item_updated] AFTER UPDATE ON [tbl_budget_item] FOR EACH ROW
    WHEN old.version = new.version and old.id=new.id
    BEGIN UPDATE tbl_budget_item Set version = CURRENT_TIMESTAMP where id = new.id; END;

-- Tombstones: a deleted row is copied whole into its twin, stamped with the time of deletion.
CREATE TRIGGER [bill_deleted] BEFORE DELETE ON [tbl_bill] FOR EACH ROW
    BEGIN insert INTO tbl_bill_deleted select * from tbl_bill where id =  old.id;
          update tbl_bill_deleted set version = current_timestamp where id =  old.id; END;
CREATE TRIGGER [account_deleted] BEFORE DELETE ON [tbl_account] FOR EACH ROW
    BEGIN insert INTO tbl_account_deleted select * from tbl_account where id =  old.id;
          update tbl_account_deleted set version = current_timestamp where id =  old.id; END;
CREATE TRIGGER [borrower_deleted] BEFORE DELETE ON [tbl_borrower] FOR EACH ROW
    BEGIN insert INTO tbl_borrower_deleted select * from tbl_borrower where id =  old.id;
          update tbl_borrower_deleted set version = current_timestamp where id =  old.id; END;
CREATE TRIGGER [category_deleted] BEFORE DELETE ON [tbl_category] FOR EACH ROW
    BEGIN insert INTO tbl_category_deleted select * from tbl_category where id =  old.id;
          update tbl_category_deleted set version = current_timestamp where id =  old.id; END;
CREATE TRIGGER [sub_category_deleted] BEFORE DELETE ON [tbl_sub_category] FOR EACH ROW
    BEGIN insert INTO tbl_sub_category_deleted select * from tbl_sub_category where id =  old.id;
          update tbl_sub_category_deleted set version = current_timestamp where id =  old.id; END;
CREATE TRIGGER [member_deleted] BEFORE DELETE ON [tbl_member] FOR EACH ROW
    BEGIN insert INTO tbl_member_deleted select * from tbl_member where id =  old.id;
          update tbl_member_deleted set version = current_timestamp where id =  old.id; END;
CREATE TRIGGER [budget_deleted] BEFORE DELETE ON [tbl_budget] FOR EACH ROW
    BEGIN insert INTO tbl_budget_deleted select * from tbl_budget where id =  old.id;
          update tbl_budget_deleted set version = current_timestamp where id =  old.id; END;
CREATE TRIGGER [budget_item_deleted] BEFORE DELETE ON [tbl_budget_item] FOR EACH ROW
    BEGIN insert INTO tbl_budget_item_deleted select * from tbl_budget_item where id =  old.id;
          update tbl_budget_item_deleted set version = current_timestamp where id =  old.id; END;

-- The two rows of a new book.
INSERT INTO [tbl_setting] ([user_id], [username], [password], [sync_username], [sync_password], [salt], [sync_time], [version])
    VALUES (NULL, NULL, NULL, NULL, NULL, NULL, '2008-08-08 08:08:08.000', 12);
INSERT INTO [android_metadata] ([locale]) VALUES ('zh_CN');

COMMIT;
