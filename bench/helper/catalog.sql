-- Fills a catalog that the library tool has just created (with one album,
-- "Album 0", row 3 after the two smart albums) up to 100,000 assets and 1,000
-- albums: dates over ten years (one in twenty undated), 90 % pictures, 8 %
-- videos, 2 % audio, one favourite in fifty, a moment per day. Album 0 holds
-- every fifth asset (20,000); the other 999 albums share the rest at random.
PRAGMA synchronous = OFF;
BEGIN;

WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 999)
INSERT INTO collection (identifier, type, subtype, title, rule)
SELECT printf('%08X-1111-4000-8000-%012X/L0/040', (i * 40503) % 4294967296, i), 1, 2, 'Album ' || i, 0 FROM n;

CREATE TEMP TABLE draw AS
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000)
SELECT i, abs(random() % 1000000007) AS x, abs(random() % 1000000007) AS y FROM n;

INSERT INTO asset (id, identifier, media_type, creation_date, favorite)
SELECT i,
       printf('%08X-0000-4000-8000-%012X/L0/001', (i * 2654435761) % 4294967296, i),
       CASE WHEN x % 100 < 90 THEN 1 WHEN x % 100 < 98 THEN 2 ELSE 3 END,
       CASE WHEN x % 20 = 0 THEN NULL ELSE 1400000000 + y % (10 * 365 * 86400) END,
       x % 50 = 0
FROM draw;

INSERT INTO resource (asset_id, position, type, original_filename, uniform_type_identifier, path)
SELECT id, 0, media_type,
       printf('IMG_%05d.%s', id, CASE media_type WHEN 1 THEN 'JPG' WHEN 2 THEN 'MOV' ELSE 'M4A' END),
       CASE media_type WHEN 1 THEN 'public.jpeg' WHEN 2 THEN 'com.apple.quicktime-movie' ELSE 'com.apple.m4a-audio' END,
       printf('originals/%02X/%d.jpg', id % 256, id)
FROM asset;

INSERT INTO membership (collection_id, asset_id, position, identifier, creation_date, media_type)
SELECT CASE WHEN a.id % 5 = 0 THEN 3 ELSE 4 + (d.y / 7) % 999 END, a.id, a.id, a.identifier, a.creation_date,
       a.media_type
FROM asset a JOIN draw d ON d.i = a.id;

INSERT INTO collection (identifier, type, subtype, title, rule, day)
SELECT printf('%08X-2222-4000-8000-%012X/L0/040', day_number, day_number), 3, 0, NULL, 0,
       date(day_number * 86400, 'unixepoch')
FROM (SELECT DISTINCT creation_date / 86400 AS day_number FROM asset WHERE creation_date IS NOT NULL);

INSERT INTO membership (collection_id, asset_id, position, identifier, creation_date, media_type)
SELECT c.id, a.id, a.id, a.identifier, a.creation_date, a.media_type
FROM asset a JOIN collection c ON c.day = date(a.creation_date, 'unixepoch')
WHERE a.creation_date IS NOT NULL;

COMMIT;
ANALYZE;
