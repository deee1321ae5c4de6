-- The service's store: accounts, the records each account synchronises, the runs it answered, and
-- feedback. quorvane-service runs this script itself when it opens a store: an empty database gets
-- every step, an older one the steps after the version kept in schema_version. Steps are only ever
-- added at the end. Two words differ between the databases: {identity} (a key the database numbers
-- itself) and {bytes}.

-- version 1
-- change_seq: the account's change sequence, the last number given to a change of its records.
create table if not exists users (account {identity}, name text not null unique,
    user_id text not null unique, salt {bytes} not null, hash {bytes} not null, iterations integer not null,
    created text not null, change_seq bigint not null default 0);
-- Every synchronisation request an account made; for an answered one, the client's clock when it was
-- sent and the account's change sequence when it was answered (null where either is unknown).
create table if not exists syncs (request {identity}, account bigint not null, received text not null,
    client_time text, answered_seq bigint);
-- One row per record of an account: its table (the position in the service's list of tables), the
-- columns it arrived with (comma-separated, or "*" for all of the table's columns in their usual
-- order), its cells as a JSON array in that order, its version, whether it is deleted, and when, by
-- which request and under which number of the account's change sequence it last changed here.
create table if not exists records (account bigint not null, tbl integer not null, id text not null,
    columns text not null, cells text not null, version text not null, deleted integer not null,
    changed_at text not null, changed_by bigint not null, changed_seq bigint not null default 0,
    primary key (account, tbl, id));
create table if not exists feedback (id {identity}, received text not null, email text, subject text,
    content text);
create index if not exists records_sequence on records (account, changed_seq);
create index if not exists syncs_client_time on syncs (account, client_time);

-- version 2
-- Replies are read table by table, each from the device's last run on.
drop index if exists records_sequence;
create index records_sequence on records (account, tbl, changed_seq);
